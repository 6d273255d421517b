#include "Ondexa/editor/ExportDialog.h"

#include "Ondexa/editor/SaveDialog.h"

#include "Ondexa/model/TimeText.h"
#include "Ondexa/ui/Alert.h"
#include "Ondexa/ui/GroupBox.h"
#include "Ondexa/ui/SegmentedControl.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/VendalumHeader.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

constexpr int kWidth = 480;
constexpr int kPadding = 22;
constexpr int kSpacing = 16;
// The progress bar counts in tenths of a per cent, so that it moves smoothly.
constexpr int kProgressSteps = 1000;

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
std::filesystem::path pathOf(const QString& text) { return std::filesystem::path(text.toStdString()); }

const char* rangeLabel(ExportOptions::Range range)
{
    switch (range) {
    case ExportOptions::Range::all: return "A teljes projekt";
    case ExportOptions::Range::matrix: return "A mátrix-kijelölés";
    case ExportOptions::Range::marks: return "Be–Ki tartomány";
    }
    return "";
}

// The save panel's only type.
const char* typeName(ExportOptions::Format format)
{
    switch (format) {
    case ExportOptions::Format::mp4: return "MP4-videó";
    case ExportOptions::Format::mov: return "MOV-videó";
    case ExportOptions::Format::m4a: return "M4A-hang";
    }
    return "";
}

void dim(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Theme::secondary());
    label->setPalette(palette);
}

// A column of radio buttons, one per choice, their ids the choices' indices.
QWidget* radioColumn(QWidget* parent, QButtonGroup* group, const QStringList& labels)
{
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QRadioButton(labels[i], column);
        group->addButton(button, i);
        layout->addWidget(button);
    }
    return column;
}

template <class Choice, std::size_t N>
int indexOf(const std::array<Choice, N>& choices, Choice choice)
{
    for (std::size_t i = 0; i < N; ++i)
        if (choices[i] == choice) return int(i);
    return 0;
}

} // namespace

ExportDialog::ExportDialog(EditorModel& model, QWidget* parent, SavePanelPresenter presentSavePanel)
    : QDialog(parent), model_(&model)
{
    setObjectName("exportDialog");
    setWindowModality(Qt::WindowModal);
    setWindowTitle("Exportálás");
    Theme::style(*this);
    setSavePanelPresenter(std::move(presentSavePanel));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    root->setSpacing(kSpacing);
    // Fixed width, the height from what is shown (it grows by the progress).
    root->setSizeConstraint(QLayout::SetFixedSize);

    auto* header = new VendalumHeader("Exportálás", this);
    header->setFixedWidth(kWidth - 2 * kPadding);
    root->addWidget(header);
    root->addWidget(buildForm());

    summary_ = new QLabel(this);
    summary_->setObjectName("summary");
    summary_->setFont(Theme::font(12));
    dim(summary_);
    root->addWidget(summary_);

    progressRow_ = new QWidget(this);
    auto* progressLayout = new QVBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(6);
    progressLabel_ = new QLabel(progressRow_);
    progressLabel_->setObjectName("progressLabel");
    progressLabel_->setFont(Theme::font(Theme::bodySize));
    progressBar_ = new QProgressBar(progressRow_);
    progressBar_->setRange(0, kProgressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setFixedHeight(6);
    progressLayout->addWidget(progressLabel_);
    progressLayout->addWidget(progressBar_);
    root->addWidget(progressRow_);

    root->addWidget(buildButtons());

    // A new dialog for every presentation: the options start from the first
    // choices, and a matrix selection is what the user most likely means.
    if (model.matrixSelection()) options_.range = Options::Range::matrix;

    connect(&model, &EditorModel::exportProgressChanged, this, &ExportDialog::refreshState);
    for (auto signal :
         {&EditorModel::matrixSelectionChanged, &EditorModel::markInChanged, &EditorModel::markOutChanged})
        connect(&model, signal, this, [this] {
            refreshRanges();
            refreshSummary();
        });
    connect(&model, &EditorModel::tracksChanged, this, [this] {
        refreshSizes();
        refreshSummary();
    });
    refresh();
}

ExportDialog::~ExportDialog() = default;

void ExportDialog::setSavePanelPresenter(SavePanelPresenter present)
{
    presentSavePanel_ = present ? std::move(present) : SavePanelPresenter([](QFileDialog& panel) { panel.open(); });
}

void ExportDialog::setAlert(Alert alert) { alert_ = std::move(alert); }

QWidget* ExportDialog::buildForm()
{
    form_ = new GroupBox(this);
    form_->setObjectName("form");
    form_->setFixedWidth(kWidth - 2 * kPadding);
    formLayout_ = new QFormLayout(form_);
    formLayout_->setContentsMargins(14, 12, 14, 12);
    formLayout_->setHorizontalSpacing(14);
    formLayout_->setVerticalSpacing(12);
    formLayout_->setLabelAlignment(Qt::AlignRight | Qt::AlignTop);
    formLayout_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    ranges_ = new QButtonGroup(this);
    QStringList rangeLabels;
    for (Options::Range range : Options::ranges) rangeLabels << rangeLabel(range);
    formLayout_->addRow("Mit", radioColumn(form_, ranges_, rangeLabels));
    connect(ranges_, &QButtonGroup::idClicked, this, [this](int id) {
        options_.range = Options::ranges[std::size_t(id)];
        refreshSummary();
    });

    formatPicker_ = new SegmentedControl(form_);
    formatPicker_->setObjectName("formatPicker");
    for (Options::Format format : Options::formats) formatPicker_->addSegment(qs(label(format)));
    formLayout_->addRow("Formátum", formatPicker_);
    connect(formatPicker_, &SegmentedControl::activated, this, [this](int index) {
        options_.format = Options::formats[std::size_t(index)];
        refresh();
    });

    sizePicker_ = new QComboBox(form_);
    sizePicker_->setObjectName("sizePicker");
    formLayout_->addRow("Képméret", sizePicker_);
    connect(sizePicker_, &QComboBox::activated, this,
            [this](int index) { options_.size = Options::sizes[std::size_t(index)]; });

    encodings_ = new QButtonGroup(this);
    QStringList encodingLabels;
    for (Options::Encoding encoding : Options::encodings) encodingLabels << qs(label(encoding));
    formLayout_->addRow("Kódolás", radioColumn(form_, encodings_, encodingLabels));
    connect(encodings_, &QButtonGroup::idClicked, this,
            [this](int id) { options_.encoding = Options::encodings[std::size_t(id)]; });
    return form_;
}

QWidget* ExportDialog::buildButtons()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);

    // No button but "Exportálás…" answers Return; Escape goes to reject().
    cancelButton_ = new QPushButton("Mégse", row);
    cancelButton_->setObjectName("cancelButton");
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (model_ && model_->exportSession()) model_->exportSession()->cancel();
    });
    layout->addWidget(cancelButton_);

    closeButton_ = new QPushButton("Bezárás", row);
    closeButton_->setObjectName("closeButton");
    closeButton_->setAutoDefault(false);
    connect(closeButton_, &QPushButton::clicked, this, &ExportDialog::reject);
    layout->addWidget(closeButton_);

    exportButton_ = new QPushButton("Exportálás…", row);
    exportButton_->setObjectName("exportButton");
    exportButton_->setFont(Theme::font(Theme::bodySize, Theme::Weight::semibold));
    const QColor orange = Theme::orange();
    exportButton_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
                       " padding: 5px 14px; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }")
            .arg(orange.name(), orange.lighter(112).name(), orange.darker(115).name()));
    connect(exportButton_, &QPushButton::clicked, this, &ExportDialog::start);
    layout->addWidget(exportButton_);
    return row;
}

bool ExportDialog::isRunning() const { return model_ && model_->exportProgress().has_value(); }

QAbstractButton* ExportDialog::rangeButton(Options::Range range) const
{
    return ranges_->button(indexOf(Options::ranges, range));
}

QAbstractButton* ExportDialog::encodingButton(Options::Encoding encoding) const
{
    return encodings_->button(indexOf(Options::encodings, encoding));
}

bool ExportDialog::isSizeRowShown() const { return formLayout_->isRowVisible(sizePicker_); }

bool ExportDialog::isEncodingRowShown() const
{
    return formLayout_->isRowVisible(encodingButton(Options::Encoding::fast)->parentWidget());
}

// --- Texts ---

QString ExportDialog::sizeLabel(Options::Size size, QSize pixels)
{
    const QString dimensions = QString("%1 × %2").arg(pixels.width()).arg(pixels.height());
    switch (size) {
    case Options::Size::original: return QString("Eredeti (%1)").arg(dimensions);
    case Options::Size::threeQuarters:
    case Options::Size::half:
    case Options::Size::quarter: return QString("%1 – az eredeti %2-a").arg(dimensions, qs(label(size)));
    case Options::Size::uhd:
    case Options::Size::fullHD:
    case Options::Size::hd: break;
    }
    // The boxes show their own size even where the export fits a smaller picture.
    return qs(label(size));
}

QString ExportDialog::summaryText(const ExportExtent& extent, std::size_t trackCount)
{
    const auto time = [](double seconds) { return QString::fromStdString(formatTime(seconds, true)); };
    return QString("%1 – %2  ·  %3 hosszú  ·  %4 sáv")
        .arg(time(extent.start), time(extent.end), time(extent.end - extent.start))
        .arg(qulonglong(trackCount));
}

QString ExportDialog::progressText(double progress)
{
    // Truncated: 99.9 % is not yet done.
    const long long percent = std::isfinite(progress) ? (long long)(progress * 100) : 0;
    return QString("Exportálás… %1%").arg(percent);
}

std::filesystem::path ExportDialog::suggestedDestination(const std::filesystem::path& recording,
                                                         const std::optional<std::filesystem::path>& package,
                                                         Options::Format format)
{
    std::filesystem::path named = package ? *package : recording;
    if (!named.has_filename()) named = named.parent_path();  // a package given as "X.vdlproj/"
    return recording.parent_path() /
           (named.stem().string() + " – export." + std::string(fileExtension(format)));
}

// --- State ---

void ExportDialog::refresh()
{
    {
        const QSignalBlocker blockRanges(ranges_);
        const QSignalBlocker blockEncodings(encodings_);
        rangeButton(options_.range)->setChecked(true);
        encodingButton(options_.encoding)->setChecked(true);
        formatPicker_->setCurrentIndex(indexOf(Options::formats, options_.format));
    }
    // Sound alone has no picture: size and encoding keep their values hidden.
    const bool picture = options_.format != Options::Format::m4a;
    formLayout_->setRowVisible(sizePicker_, picture);
    formLayout_->setRowVisible(encodingButton(Options::Encoding::fast)->parentWidget(), picture);
    refreshRanges();
    refreshSizes();
    refreshSummary();
    refreshState();
}

void ExportDialog::refreshRanges()
{
    if (!model_) return;
    rangeButton(Options::Range::matrix)->setEnabled(model_->matrixSelection().has_value());
    rangeButton(Options::Range::marks)->setEnabled(model_->markIn() && model_->markOut());
}

void ExportDialog::refreshSizes()
{
    if (!model_) return;
    const QSignalBlocker blocker(sizePicker_);
    for (std::size_t i = 0; i < Options::sizes.size(); ++i) {
        const QString text = sizeLabel(Options::sizes[i], model_->exportSize(Options::sizes[i]));
        if (int(i) < sizePicker_->count())
            sizePicker_->setItemText(int(i), text);
        else
            sizePicker_->addItem(text);
    }
    sizePicker_->setCurrentIndex(indexOf(Options::sizes, options_.size));
}

void ExportDialog::refreshSummary()
{
    if (!model_) return;
    const ExportExtent extent = model_->exportExtent(options_.range);
    summary_->setText(summaryText(extent, extent.tracks ? extent.tracks->size() : model_->tracks().size()));
}

void ExportDialog::refreshState()
{
    const bool running = isRunning();
    form_->setEnabled(!running);
    progressRow_->setVisible(running);
    if (running) {
        const double progress = *model_->exportProgress();
        progressLabel_->setText(progressText(progress));
        progressBar_->setValue(int(std::lround(std::clamp(progress, 0.0, 1.0) * kProgressSteps)));
    }
    cancelButton_->setVisible(running);
    closeButton_->setVisible(!running);
    exportButton_->setVisible(!running);
    exportButton_->setDefault(!running);
}

// --- Export ---

QFileDialog* ExportDialog::makeSavePanel()
{
    const std::filesystem::path suggested =
        suggestedDestination(model_->url(), model_->documentURL(), options_.format);
    QFileDialog* panel = makeSaveDialog(this, "Exportálás", suggested, typeName(options_.format),
                                        qs(fileExtension(options_.format)));
    panel->setObjectName("savePanel");
    return panel;
}

void ExportDialog::start()
{
    if (!model_ || isRunning() || savePanel_) return;
    QFileDialog* panel = makeSavePanel();
    savePanel_ = panel;
    connect(panel, &QDialog::finished, this, [this, panel](int result) {
        savePanel_ = nullptr;  // answered; it goes away later
        const QStringList files = panel->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty() || files.front().isEmpty()) return;
        exportTo(pathOf(files.front()));
    });
    presentSavePanel_(*panel);
}

void ExportDialog::exportTo(const std::filesystem::path& file)
{
    if (!model_ || isRunning()) return;
    // The options as they are now; the form is locked while the export runs.
    model_->exportTo(file, options_, [self = QPointer<ExportDialog>(this)](bool written) {
        if (self) self->finished(written);
    });
    refreshState();
}

void ExportDialog::finished(bool written)
{
    refreshState();
    if (written) {
        accept();
        return;
    }
    // A cancelled export reports nothing; a refused or failed one says why.
    if (model_ && model_->exportError()) showAlert(QString::fromStdString(*model_->exportError()));
}

void ExportDialog::showAlert(const QString& message)
{
    if (alert_) return alert_(message);
    if (!alertBox_) {
        alertBox_ = new QMessageBox(QMessageBox::Warning, "Hiba", QString(), QMessageBox::Ok, this);
        alertBox_->setObjectName("errorAlert");
        alertBox_->setWindowModality(Qt::WindowModal);
        // Dismissed: the message is read, as with the window's own alert.
        connect(alertBox_, &QMessageBox::finished, this, [this] {
            if (model_) model_->setExportError(std::nullopt);
        });
    }
    // One alert: a newer message replaces the text of the one shown.
    alertBox_->setText(message);
    ui::Alert::open(*alertBox_);
}

void ExportDialog::reject()
{
    if (isRunning()) return;
    QDialog::reject();
}

void ExportDialog::closeEvent(QCloseEvent* event)
{
    if (isRunning()) return event->ignore();
    QDialog::closeEvent(event);
}

void ExportDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::backdrop(rect()));
}

} // namespace ondexa
