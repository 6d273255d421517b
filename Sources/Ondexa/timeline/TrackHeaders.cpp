#include "Ondexa/timeline/TrackHeaders.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/timeline/TimelineSnapshot.h"
#include "Ondexa/timeline/TimelineSymbols.h"
#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/WheelDeltas.h"
#include "Ondexa/ui/WheelPassing.h"

#include <QContextMenuEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>

namespace ondexa {

namespace {

constexpr int symbolSize = 14;

QColor kindTint(MediaKind kind)
{
    switch (kind) {
    case MediaKind::audio: return Theme::green();
    case MediaKind::effects: return Theme::systemOrange();
    case MediaKind::video:
    case MediaKind::image: return Theme::blue();
    }
    return Theme::blue();
}

// A borderless icon button of the header.
QToolButton* toggleButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(symbolSize, symbolSize));
    button->setFixedSize(20, 20);
    return button;
}

void showToggle(QToolButton* button, const QString& symbol, bool active, const QString& help)
{
    button->setIcon(QIcon(tintedSymbol(symbol, active ? Theme::accent() : Theme::secondary(), symbolSize,
                                       button->devicePixelRatioF())));
    button->setToolTip(help);
}

} // namespace

// The handle that reorders tracks: a press, 3 points of movement, then the
// whole header follows the pointer until the release decides the places.
class DragHandle final : public QWidget {
public:
    DragHandle(TrackHeaders::Row* row, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QPixmap glyph = tintedSymbol("line.3.horizontal", Theme::tertiary(), 12, devicePixelRatioF());
        painter.drawPixmap(QPointF((width() - 12) / 2.0, (height() - 12) / 2.0), glyph);
    }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TrackHeaders::Row* row_;
    std::optional<QPointF> press_;
    bool dragging_ = false;
};

class TrackHeaders::Row final : public QWidget {
public:
    Row(TrackHeaders& owner, const Uuid& id) : QWidget(&owner), owner_(owner), id_(id)
    {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(4, 0, 8, 0);
        layout->setSpacing(5);
        handle_ = new DragHandle(this, this);
        kind_ = new QLabel(this);
        kind_->setFixedWidth(16);
        kind_->setAlignment(Qt::AlignCenter);
        kind_->setAttribute(Qt::WA_TransparentForMouseEvents);
        name_ = new ElidedLabel({}, this);
        name_->setFont(Theme::font(Theme::captionSize));
        name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        QPalette ink = name_->palette();
        ink.setColor(QPalette::WindowText, Theme::primary());
        name_->setPalette(ink);
        layout->addWidget(handle_);
        layout->addWidget(kind_);
        layout->addWidget(name_, 1);
        layout->addSpacing(2);

        eye_ = toggleButton(this);
        connect(eye_, &QToolButton::clicked, this, [this] { change([](Track& t) { t.hidden = !t.hidden; }, true); });
        volume_ = new QSlider(Qt::Horizontal, this);
        volume_->setRange(0, 400);
        volume_->setFixedWidth(46);
        volume_->setFocusPolicy(Qt::NoFocus);
        // Never focused, it leaves every wheel to the timeline's own rules.
        passUnfocusedWheel(*volume_);
        volume_->setAttribute(Qt::WA_MacMiniSize);
        connect(volume_, &QSlider::valueChanged, this, [this](int value) {
            volume_->setToolTip(volumeTip(float(value) / 100));
            change([value](Track& t) { t.volume = float(value) / 100; }, false);
        });
        max_ = new QToolButton(this);
        max_->setAutoRaise(true);
        max_->setFocusPolicy(Qt::NoFocus);
        max_->setText(QStringLiteral("MAX"));
        max_->setFont(Theme::font(9, Theme::Weight::heavy));
        max_->setToolTip(QStringLiteral("Maximalizálás: a lehető leghangosabb torzítás nélkül"));
        connect(max_, &QToolButton::clicked, this,
                [this] { change([](Track& t) { t.maximize = !t.maximize; }, true); });
        mute_ = toggleButton(this);
        connect(mute_, &QToolButton::clicked, this, [this] { change([](Track& t) { t.muted = !t.muted; }, true); });
        for (QWidget* control : {static_cast<QWidget*>(eye_), static_cast<QWidget*>(volume_),
                                 static_cast<QWidget*>(max_), static_cast<QWidget*>(mute_)})
            layout->addWidget(control);
    }

    const Uuid& id() const { return id_; }
    int index() const { return index_; }
    QSlider* volumeSlider() const { return volume_; }

    // New values for the row, leaving alone what the user is handling. A
    // row whose values are those it shows is left alone: an edit of the
    // clips repaints no header.
    void showTrack(const Track& track, int index, bool selected)
    {
        Shown now{track.name, symbolFor(track), track.media.kind, track.hidden, track.volume,
                  track.maximize, track.muted, index, selected};
        if (shown_ == now) return;
        shown_ = std::move(now);
        index_ = index;
        selected_ = selected;
        const bool sound = track.media.kind == MediaKind::audio;
        kind_->setPixmap(tintedSymbol(symbolFor(track), kindTint(track.media.kind), symbolSize, devicePixelRatioF()));
        name_->setText(QString::fromStdString(track.name));
        eye_->setVisible(!sound);
        volume_->setVisible(sound);
        max_->setVisible(sound);
        mute_->setVisible(sound);
        showToggle(eye_, track.hidden ? "eye.slash" : "eye", false,
                   track.hidden ? QStringLiteral("Megjelenítés") : QStringLiteral("Elrejtés"));
        if (!volume_->isSliderDown()) {
            const QSignalBlocker blocker(volume_);
            volume_->setValue(int(std::lround(track.volume * 100)));
        }
        volume_->setToolTip(volumeTip(volume_->isSliderDown() ? float(volume_->value()) / 100 : track.volume));
        QPalette palette = max_->palette();
        palette.setColor(QPalette::ButtonText, track.maximize ? Theme::orange() : Theme::secondary());
        max_->setPalette(palette);
        showToggle(mute_, track.muted ? "speaker.slash.fill" : "speaker.wave.2", track.muted,
                   track.muted ? QStringLiteral("Hang be") : QStringLiteral("Némítás"));
        update();
    }

    // Handle drags, in points since the press.
    void dragMoved(double dy)
    {
        if (!shadow_) {
            shadow_ = new QGraphicsDropShadowEffect(this);
            shadow_->setColor(QColor::fromRgbF(0, 0, 0, 0.33f));
            shadow_->setBlurRadius(8);  // Qt's blur radius is about twice a shadow's radius
            shadow_->setOffset(0, 0);
            setGraphicsEffect(shadow_);
        }
        owner_.dragging_ = id_;
        dragOffset_ = dy;
        raise();
        owner_.layoutRows();
    }
    void dragEnded(double dy)
    {
        setGraphicsEffect(nullptr);  // deletes the shadow
        shadow_ = nullptr;
        owner_.dragging_.reset();
        dragOffset_ = 0;
        owner_.layoutRows();
        const double height = owner_.model_ ? owner_.model_->trackHeight() : 40;
        const double places = std::round(dy / height);  // halves away from zero
        if (places != 0 && std::isfinite(places) && owner_.model_)
            owner_.model_->moveTrack(id_, int(std::clamp(places, -1e6, 1e6)));
    }
    double dragOffset() const { return dragOffset_; }
    // A click anywhere on the header, its drag handle included.
    void select()
    {
        if (!owner_.model_) return;
        owner_.model_->clearSelection();
        owner_.model_->setSelectedTrackID(id_);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QColor accent = Theme::accent();
        accent.setAlphaF(0.18f);
        painter.fillRect(rect(), Theme::raised());
        if (selected_) painter.fillRect(rect(), accent);
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) event->accept();
        else QWidget::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) select();
    }
    // The column's, not the row's: it scrolls the rows.
    void wheelEvent(QWheelEvent* event) override { owner_.wheelEvent(event); }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu menu(this);
        fillMenu(menu);
        menu.exec(event->globalPos());
    }

public:
    void fillMenu(QMenu& menu)
    {
        EditorModel* model = owner_.model_;
        if (!model) return;
        const int count = int(model->tracks().size());
        const Uuid id = id_;
        QPointer<EditorModel> guard(model);
        menu.addAction(QStringLiteral("Feljebb"), this, [guard, id] {
                if (guard) guard->moveTrack(id, -1);
            })->setEnabled(index_ > 0);
        menu.addAction(QStringLiteral("Lejjebb"), this, [guard, id] {
                if (guard) guard->moveTrack(id, 1);
            })->setEnabled(index_ < count - 1);
        menu.addAction(QStringLiteral("Sáv duplikálása"), this, [guard, id] {
            if (guard) guard->duplicateTrack(id);
        });
        menu.addSeparator();
        menu.addAction(QStringLiteral("Sáv törlése"), this, [guard, id] {
            if (guard) guard->deleteTrack(id);
        });
    }

private:
    // What the row was last told to show.
    struct Shown {
        std::string name;
        QString symbol;
        MediaKind kind = MediaKind::video;
        bool hidden = false;
        float volume = 1;
        bool maximize = false;
        bool muted = false;
        int index = 0;
        bool selected = false;
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    // A copy of the stored track with one field changed, handed to the model.
    template <typename Change> void change(Change&& apply, bool undoable)
    {
        EditorModel* model = owner_.model_;
        if (!model) return;
        for (const Track& track : model->tracks())
            if (track.id == id_) {
                Track copy = track;
                apply(copy);
                model->updateTrack(copy, undoable);
                return;
            }
    }

    TrackHeaders& owner_;
    Uuid id_;
    int index_ = 0;
    bool selected_ = false;
    std::optional<Shown> shown_;
    double dragOffset_ = 0;
    DragHandle* handle_;
    QLabel* kind_;
    ElidedLabel* name_;
    QToolButton* eye_;
    QSlider* volume_;
    QToolButton* max_;
    QToolButton* mute_;
    QGraphicsDropShadowEffect* shadow_ = nullptr;
};

DragHandle::DragHandle(TrackHeaders::Row* row, QWidget* parent) : QWidget(parent), row_(row)
{
    setFixedWidth(14);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setToolTip(QStringLiteral("Húzd fel vagy le a sáv áthelyezéséhez"));
    setCursor(Qt::OpenHandCursor);
}

void DragHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // Global positions: the header moves under the pointer while dragged.
    press_ = event->globalPosition();
    dragging_ = false;
    event->accept();
}

void DragHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (!press_) return;
    const QPointF moved = event->globalPosition() - *press_;
    if (!dragging_ && std::hypot(moved.x(), moved.y()) < 3) return;
    dragging_ = true;
    row_->dragMoved(moved.y());
}

void DragHandle::mouseReleaseEvent(QMouseEvent* event)
{
    if (!press_ || event->button() != Qt::LeftButton) return;
    const QPointF moved = event->globalPosition() - *press_;
    press_.reset();
    if (!dragging_ && std::hypot(moved.x(), moved.y()) < 3) {
        // Short of a drag it was a click on the header.
        if (rect().contains(event->position().toPoint())) row_->select();
        return;
    }
    dragging_ = false;
    row_->dragEnded(moved.y());  // may reorder (and so relayout) the rows
}

TrackHeaders::TrackHeaders(EditorModel& model, QWidget* parent) : QWidget(parent), model_(&model)
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::background());
    setPalette(palette);
    spacer_ = new QWidget(this);
    spacer_->setAutoFillBackground(true);
    for (const auto signal :
         {&EditorModel::tracksChanged, &EditorModel::trackHeightChanged, &EditorModel::selectedTrackIDChanged})
        connect(&model, signal, this, &TrackHeaders::refresh);
    refresh();
}

TrackHeaders::~TrackHeaders() = default;

QWidget* TrackHeaders::row(const Uuid& track) const
{
    const auto found = rows_.find(track);
    return found == rows_.end() ? nullptr : found->second;
}

QSlider* TrackHeaders::volumeSlider(const Uuid& track) const
{
    const auto found = rows_.find(track);
    if (found == rows_.end() || found->second->volumeSlider()->isHidden()) return nullptr;
    return found->second->volumeSlider();
}

QString TrackHeaders::symbolFor(const Track& track)
{
    switch (track.media.kind) {
    case MediaKind::video:
        return track.fromRecording && track.media.index == 0 ? QStringLiteral("display") : QStringLiteral("video");
    case MediaKind::audio: return QStringLiteral("waveform");
    case MediaKind::image: return QStringLiteral("photo");
    case MediaKind::effects: return QStringLiteral("textformat");
    }
    return {};
}

QString TrackHeaders::volumeTip(float volume)
{
    return QStringLiteral("Hangerő: %1 %").arg(std::lround(double(volume) * 100));
}

QSize TrackHeaders::sizeHint() const
{
    const double height = model_ ? model_->trackHeight() * double(model_->tracks().size()) : 0;
    return QSize(columnWidth, int(std::ceil(rulerHeight + height)));
}

void TrackHeaders::refresh()
{
    if (!model_) return;
    std::map<Uuid, Row*> kept;
    int index = 0;
    for (const Track& track : model_->tracks()) {
        if (kept.contains(track.id)) continue;  // a duplicate id keeps its first row
        Row* row = nullptr;
        if (const auto found = rows_.find(track.id); found != rows_.end()) {
            row = found->second;
            rows_.erase(found);
        } else {
            row = new Row(*this, track.id);
            row->setVisible(true);
        }
        row->showTrack(track, index++, model_->selectedTrackID() == track.id);
        kept.emplace(track.id, row);
    }
    for (const auto& [id, row] : rows_) {
        if (dragging_ == id) dragging_.reset();
        row->hide();
        row->deleteLater();
    }
    rows_ = std::move(kept);
    layoutRows();
    updateGeometry();
}

void TrackHeaders::setScrollY(double y)
{
    if (y == scrollY_) return;
    scrollY_ = y;
    layoutRows();
}

void TrackHeaders::layoutRows()
{
    const double height = model_ ? model_->trackHeight() : 40;
    for (const auto& [id, row] : rows_) {
        const double offset = dragging_ == id ? row->dragOffset() : 0;
        row->setGeometry(0, int(std::lround(rulerHeight + row->index() * height + offset - scrollY_)), width(),
                         int(std::lround(height)));
    }
    spacer_->setGeometry(0, 0, width(), int(rulerHeight));
    spacer_->raise();
}

void TrackHeaders::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutRows();
}

void TrackHeaders::wheelEvent(QWheelEvent* event)
{
    event->accept();
    emit wheelTurned(preciseDelta(*event), event->angleDelta(), event->modifiers());
}

void TrackHeaders::fillMenu(const Uuid& track, QMenu& menu) const
{
    if (const auto found = rows_.find(track); found != rows_.end()) found->second->fillMenu(menu);
}

} // namespace ondexa
