// Media sources: each file opened once per editor, in the background.

#include "Ondexa/editing/EditorModel.h"

namespace ondexa {

namespace {

struct SourceRead {
    std::optional<MediaSource> source;
    std::string why;  // when none and the user is to be told why
};

} // namespace

void EditorModel::loadSource(const std::string& path,
                             std::function<void(const MediaSource*, const std::string& why)> done)
{
    if (const auto found = sources_.find(path); found != sources_.end()) {
        done(&found->second, {});
        return;
    }
    sourceLoader_.run<SourceRead>(
        this,
        [path] {
            SourceRead read;
            try {
                read.source = loadMediaSource(path, &read.why);
            } catch (const std::exception&) {
                read.why.clear();
            }
            return read;
        },
        [this, path, done = std::move(done)](SourceRead read) {
            if (!read.source) {
                done(nullptr, read.why);
                return;
            }
            // A later probe of the same path replaces the entry in place.
            MediaSource& stored = sources_[path] = std::move(*read.source);
            if (const int fps = raisedFrameRate(frameRate_, stored); fps != frameRate_) setFrameRate(fps);
            done(&stored, {});
        });
}

void EditorModel::loadSources(std::vector<std::string> paths, std::function<void()> done)
{
    // One file after the other. Cached ones answer at once, so the walk is a
    // loop, not a recursion; a pending load holds the walk, nothing else does.
    struct Walk {
        EditorModel* model;
        std::vector<std::string> paths;
        std::function<void()> done;
        std::size_t index = 0;

        static void next(const std::shared_ptr<Walk>& walk)
        {
            for (; walk->index < walk->paths.size(); ++walk->index) {
                const std::string& path = walk->paths[walk->index];
                if (walk->model->sources_.count(path)) continue;
                ++walk->index;
                walk->model->loadSource(path, [walk](const MediaSource*, const std::string&) { next(walk); });
                return;
            }
            if (auto finish = std::move(walk->done)) finish();
        }
    };
    Walk::next(std::make_shared<Walk>(Walk{this, std::move(paths), std::move(done)}));
}

} // namespace ondexa
