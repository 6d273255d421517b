#pragma once

#include <QWidget>

namespace ondexa {

class EditorModel;
class PlayerView;

// The preview pane: the edit's picture fitted to the output's aspect.
class PreviewCanvas : public QWidget {
    Q_OBJECT

public:
    PreviewCanvas(EditorModel& model, PlayerView& player, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EditorModel& model_;
    PlayerView& player_;
};

} // namespace ondexa
