#include "Ondexa/selftest/TestFiles.h"

#include "Ondexa/model/Log.h"

#include <algorithm>
#include <system_error>

namespace ondexa::selftest {

namespace fs = std::filesystem;

namespace {

std::string outputWords(const fs::path& output)
{
    return "a kimenet (" + output.filename().string() + ")";
}

// Everything set aside and not yet back, for the program's end. Gone once
// the program's statics are destroyed: what is set aside after that (nothing
// should be) is put back by its own end alone.
struct AsideList {
    std::vector<SetAside*> live;
    void putBackAll()
    {
        // putBack() takes each off the list.
        while (!live.empty()) {
            SetAside* item = live.back();
            item->putBack();
            live.erase(std::remove(live.begin(), live.end(), item), live.end());
        }
    }
    ~AsideList();
};
bool asideListGone = false;

AsideList& asideList()
{
    static AsideList list;
    return list;
}

AsideList::~AsideList()
{
    putBackAll();
    asideListGone = true;
}

void forget(SetAside* item)
{
    if (asideListGone) return;
    auto& live = asideList().live;
    live.erase(std::remove(live.begin(), live.end(), item), live.end());
}

} // namespace

std::optional<std::string> clashOf(const TestFiles& files)
{
    for (const fs::path& source : files.sources) {
        if (files.workingCopy && sameFile(source, *files.workingCopy))
            return std::string("a forrás és a munkapéldány ugyanaz");
        for (const fs::path& output : files.outputs)
            if (sameFile(source, output)) return "a forrás és " + outputWords(output) + " ugyanaz";
    }
    if (files.workingCopy)
        for (const fs::path& output : files.outputs)
            if (sameFile(*files.workingCopy, output)) return "a munkapéldány és " + outputWords(output) + " ugyanaz";
    return std::nullopt;
}

bool filesApart(const std::string& test, const TestFiles& files)
{
    const std::optional<std::string> clash = clashOf(files);
    if (clash) logLine(test + ": HIBA: " + *clash);
    return !clash;
}

SetAside::SetAside(fs::path original) : original_(std::move(original))
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(original_, error))) return;
    for (int n = 0; n < 1000; ++n) {
        fs::path aside = original_;
        aside += ".aside" + (n ? std::to_string(n) : std::string());
        if (fs::exists(fs::symlink_status(aside, error))) continue;
        // Listed before the move: an exit right after it still finds it.
        if (!asideListGone) asideList().live.push_back(this);
        fs::rename(original_, aside, error);
        if (!error) aside_ = aside;
        else forget(this);
        return;
    }
}

SetAside::~SetAside() { putBack(); }

void SetAside::putBack()
{
    if (!aside_) return;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(original_, error))) fs::rename(*aside_, original_, error);
    aside_.reset();
    forget(this);
}

void putBackEverythingAside()
{
    if (!asideListGone) asideList().putBackAll();
}

} // namespace ondexa::selftest
