#pragma once

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Uuid.h"

#include <QScrollArea>

#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QAbstractButton;
class QLabel;
class QVBoxLayout;

namespace ondexa {

class ActionSection;
class ClipSection;
class EditorModel;
class PartnerRows;
class PointerStyleRows;
class SwitchRow;
class TrackSection;

// The editor's right-hand column: adds overlays, media and actions, switches
// the click highlighting, edits the pointer style, and edits what is
// selected: an action; a clip with its track and its linked partners; or a
// track. It keeps no document state: each change the model publishes shows
// again in place, and a section is built anew only when what it shows
// changes identity, so a slider being dragged or a text being typed into
// survives the model's signals.
class InspectorPanel : public QScrollArea {
    Q_OBJECT

public:
    // Asks for one movie or picture file; calls `chosen` on the main thread,
    // at once or later, with none when cancelled.
    using ChosenFile = std::function<void(std::optional<std::filesystem::path>)>;
    using OpenDialog = std::function<void(QWidget* parent, ChosenFile chosen)>;

    explicit InspectorPanel(EditorModel& model, QWidget* parent = nullptr);

    // The add buttons' titles and symbols, for every overlay kind.
    static QString overlayTitle(OverlayKind kind);
    static QString overlaySymbol(OverlayKind kind);

    // The file types the media dialog offers: the system's movie and
    // picture types, then every file.
    static QStringList mediaNameFilters();
    // The open dialog of chooseMedia; a null one restores the file dialog.
    void setOpenDialog(OpenDialog dialog);
    // Asks for a file and imports it; returns before the import ends.
    void chooseMedia();

    // What the column shows (for the window and tests).
    QList<QAbstractButton*> addButtons() const { return addButtons_; }
    SwitchRow* clicksRow() const { return clicksRow_; }
    PointerStyleRows* pointerRows() const { return pointerRows_; }
    // The widgets after the divider that ends the fixed part, in order.
    QList<QWidget*> sectionWidgets() const;
    ActionSection* actionSection() const;
    ClipSection* clipSection() const;
    TrackSection* trackSection() const;
    std::vector<PartnerRows*> partnerRows() const;

private:
    // The identity of the section part: which section, for which ids.
    struct Shown {
        enum class Kind { hint, action, clip, track };
        Kind kind = Kind::hint;
        Uuid action;
        Uuid clip;
        Uuid track;
        std::vector<std::pair<Uuid, Uuid>> partners;  // clip and track ids
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    void refresh();
    Shown shownNow() const;
    // Refreshes the sections in place; false when one can't show its item
    // (then all are built anew, so a section must refresh true right after
    // it was built, or it would be rebuilt at every signal).
    bool refreshSections();
    void buildSections(const Shown& shown);

    EditorModel& model_;
    OpenDialog openDialog_;
    QList<QAbstractButton*> addButtons_;
    SwitchRow* clicksRow_ = nullptr;
    PointerStyleRows* pointerRows_ = nullptr;
    QWidget* sectionArea_ = nullptr;
    QVBoxLayout* sectionColumn_ = nullptr;
    QList<QWidget*> sections_;
    std::optional<Shown> shown_;
};

} // namespace ondexa
