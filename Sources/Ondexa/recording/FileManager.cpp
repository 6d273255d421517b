#include "Ondexa/recording/FileManager.h"

#include <QCoreApplication>
#include <QProcess>

#include <memory>
#include <utility>

namespace ondexa {

void showInFileManager(const std::filesystem::path& folder, std::function<void()> unopened, const QString& program)
{
    // Not QDesktopServices: it reports only whether xdg-open started, not
    // whether anything could open a folder. Owned by the application, so a
    // file manager that keeps xdg-open waiting never outlives the program's
    // bookkeeping.
    auto* process = new QProcess(QCoreApplication::instance());
    auto report = std::make_shared<std::function<void()>>(std::move(unopened));
    auto fail = [process, report] {
        if (auto call = std::exchange(*report, nullptr)) call();
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [process, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) fail();
    });
    QObject::connect(process, &QProcess::finished, process,
                     [process, fail](int code, QProcess::ExitStatus status) {
                         if (status == QProcess::NormalExit && code != 0) return fail();
                         process->deleteLater();
                     });
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, {QString::fromStdString(folder.string())});
}

} // namespace ondexa
