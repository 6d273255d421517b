#include "Platform/input/PointerPosition.h"

#include "Platform/input/XcbPointer.h"

namespace platform {

struct PointerPosition::Impl {
    detail::RootConnection x;
    ~Impl()
    {
        if (x.connection) xcb_disconnect(x.connection);
    }
};

PointerPosition::PointerPosition(const std::string& display) : impl_(std::make_unique<Impl>())
{
    impl_->x = detail::connectToRoot(display);
}

PointerPosition::~PointerPosition() = default;

std::optional<RootPoint> PointerPosition::current()
{
    if (!impl_->x.connection || xcb_connection_has_error(impl_->x.connection)) return std::nullopt;
    return detail::queryPointer(impl_->x.connection, impl_->x.root);
}

} // namespace platform
