#include "Ondexa/editor/EditorFooter.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/ui/KeyNames.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

namespace ondexa {

namespace {

constexpr int kSpacing = 12;
// A longer link is shortened in its middle, so it stays on its line and
// leaves the buttons their room.
constexpr int kLinkTextWidth = 420;

QString fileText(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

void openFolder(const std::filesystem::path& file)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(fileText(file.parent_path())));
}

} // namespace

QString EditorFooter::hint()
{
    return keyNames("Klip sarkán fehér fogó = fade · klipek egymásba tolva = átúsztatás · ⌥-kattintás = "
                    "összekötött klip külön · jobb gombbal húzás = mátrix · ⇧/⌥/⌘ görgő = "
                    "mozgatás/zoom/sávmagasság");
}

EditorFooter::EditorFooter(EditorModel& model, QWidget* parent) : QWidget(parent), model_(&model)
{
    setObjectName("editorFooter");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);

    hint_ = new QLabel(this);
    hint_->setObjectName("hint");
    hint_->setFont(Theme::font(Theme::captionSize));
    hint_->setWordWrap(false);
    // The label may shrink to nothing; it is cut off at the end, not wrapped.
    hint_->setMinimumWidth(0);
    hint_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QPalette hintPalette = hint_->palette();
    hintPalette.setColor(QPalette::WindowText, Theme::secondary());
    hint_->setPalette(hintPalette);
    hint_->setToolTip(hint());
    hint_->installEventFilter(this);
    row->addWidget(hint_, 1);

    link_ = new QPushButton(this);
    link_->setObjectName("lastExport");
    link_->setFlat(true);
    link_->setFocusPolicy(Qt::NoFocus);
    link_->setCursor(Qt::PointingHandCursor);
    link_->setIcon(Symbols::tinted("checkmark.circle.fill", Theme::green()));
    link_->setStyleSheet(QString("QPushButton { color: %1; border: none; padding: 0 2px; }")
                             .arg(Theme::green().name()));
    link_->hide();
    row->addWidget(link_);

    save_ = new QPushButton("Projekt mentése…", this);
    save_->setObjectName("saveProject");
    save_->setFocusPolicy(Qt::NoFocus);
    save_->setToolTip(keyNames("A vágás mentése .vdlproj projektfájlba (⌘S)"));
    row->addWidget(save_);

    export_ = new QPushButton("Exportálás…", this);
    export_->setObjectName("export");
    export_->setFocusPolicy(Qt::NoFocus);
    // The window's Ctrl+E, at once (a button's own shortcut clicks after an animation).
    exportKey_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this);
    exportKey_->setContext(Qt::WindowShortcut);
    const QColor orange = Theme::orange();
    export_->setStyleSheet(QString("QPushButton { background: %1; color: black; border-radius: 5px; padding: 3px 12px; }"
                                   "QPushButton:pressed { background: %2; }"
                                   "QPushButton:disabled { background: %3; color: %4; }")
                               .arg(orange.name(), orange.darker(130).name(), orange.darker(250).name(),
                                    Theme::tertiary().name(QColor::HexArgb)));
    row->addWidget(export_);

    connect(link_, &QPushButton::clicked, this, [this] {
        if (model_ && model_->lastExport() && revealer_) revealer_(*model_->lastExport());
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        if (model_) model_->saveProject(false);
    });
    const auto requestExport = [this] {
        if (model_ && !model_->tracks().empty()) emit exportRequested();
    };
    connect(export_, &QPushButton::clicked, this, requestExport);
    connect(exportKey_, &QShortcut::activated, this, requestExport);
    connect(&model, &EditorModel::tracksChanged, this, &EditorFooter::refresh);
    connect(&model, &EditorModel::lastExportChanged, this, &EditorFooter::refresh);
    refresh();
}

void EditorFooter::refresh()
{
    if (!model_) return;
    // Disabled, the button's shortcut does nothing either.
    export_->setEnabled(!model_->tracks().empty());
    exportKey_->setEnabled(export_->isEnabled());
    const auto& last = model_->lastExport();
    link_->setVisible(last.has_value());
    if (last) {
        const QString text = "Kész: " + QString::fromStdString(last->filename().string()) + " – mutasd";
        link_->setText(link_->fontMetrics().elidedText(text, Qt::ElideMiddle, kLinkTextWidth));
        link_->setToolTip(fileText(*last));
    }
    elideHint();
}

bool EditorFooter::eventFilter(QObject* watched, QEvent* event)
{
    // The label's own width: the link beside it takes room without the row resizing.
    if (watched == hint_ && event->type() == QEvent::Resize) elideHint();
    return QWidget::eventFilter(watched, event);
}

void EditorFooter::elideHint()
{
    hint_->setText(hint_->fontMetrics().elidedText(hint(), Qt::ElideRight, std::max(hint_->width(), 0)));
}

void EditorFooter::reveal(const std::filesystem::path& file)
{
    // The file managers' common interface; without one on the bus, the folder.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openFolder(file);
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(fileText(file)).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, file] {
        if (watcher->isError()) openFolder(file);
        watcher->deleteLater();
    });
}

} // namespace ondexa
