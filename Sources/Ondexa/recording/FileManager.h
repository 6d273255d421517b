#pragma once

#include <QString>

#include <filesystem>
#include <functional>

namespace ondexa {

// Shows `folder` in the desktop's file manager through xdg-open (`program`
// for tests). `unopened` runs on the main thread when nothing could show it:
// xdg-open is missing or says it found no program for folders.
void showInFileManager(const std::filesystem::path& folder, std::function<void()> unopened,
                       const QString& program = QStringLiteral("xdg-open"));

} // namespace ondexa
