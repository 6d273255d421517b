#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/selftest/TestFiles.h"
#include "Ondexa/selftest/TestModel.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace ondexa::selftest {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Cancels the model's running export after two seconds; holds the model
// until then.
Task cancelLater(std::shared_ptr<EditorModel> model)
{
    co_await delay(2.0);
    if (platform::ExportSession* session = model->exportSession()) session->cancel();
}

} // namespace

Task exportTest(AppState&, std::filesystem::path source, std::filesystem::path folder)
{
    const std::filesystem::path matrix = folder / "matrix4k.mp4";
    const std::filesystem::path cancelled = folder / "cancelled.mp4";
    if (!filesApart("Exportteszt", {{source}, std::nullopt, {matrix, cancelled}})) co_return;

    auto model = std::make_shared<EditorModel>(source);
    co_await loaded(*model);

    model->setMatrixSelection(
        EditorModel::MatrixSelection{10.0, std::min(model->duration(), 20.0), screenAndSoundIDs(model->tracks())});
    const auto t0 = std::chrono::steady_clock::now();
    const bool matrixWritten = co_await exported(*model, matrix,
                                                 options(Range::matrix, Size::original, Encoding::normal, Format::mp4));
    logLine("Exportteszt: 4K HEVC mátrix " + (matrixWritten ? std::string("KÉSZ") : failureText(*model)) + " "
            + fixed(secondsSince(t0), 1) + " mp alatt");

    const auto t1 = std::chrono::steady_clock::now();
    launch(cancelLater(model));
    const bool completed = co_await exported(*model, cancelled,
                                             options(Range::all, Size::original, Encoding::fast, Format::mp4));
    // Only an export that ended cancelled stopped; a failure says why.
    const std::string outcome = completed              ? "nem állt le (befejeződött)"
                                : model->exportError() ? failureText(*model)
                                                       : "leállt";
    logLine("Exportteszt: megszakítás " + outcome + " " + fixed(secondsSince(t1), 1) + " mp után");
}

} // namespace ondexa::selftest
