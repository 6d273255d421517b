#include "Platform/capture/ScreenGrab.h"

#include "Platform/capture/XcbSupport.h"

#include <cstring>
#include <string>

namespace platform {

using xcb::Reply;

QImage grabScreen(const QRect& rect)
{
    xcb::Connection connection;
    if (rect.isEmpty() || !connection.queryRootRect().contains(rect))
        throw CaptureError("A kért terület nem fér el a képernyőn.");
    xcb_connection_t* c = connection.get();
    xcb_generic_error_t* error = nullptr;
    // A plain GetImage: one picture doesn't pay for setting up shared memory.
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection.root(), std::int16_t(rect.x()), std::int16_t(rect.y()),
                      std::uint16_t(rect.width()), std::uint16_t(rect.height()), ~0u),
        &error));
    xcb::Error owned(error);
    if (!reply) throw CaptureError(xcb::withXError("Az X kijelző nem adott képet a képernyőről.", error));
    // Depths below 24 have other pixel layouts.
    if (reply->depth < 24)
        throw CaptureError(xcb::withDetail("Az X kijelző képformátuma nem támogatott.",
                                           "színmélység " + std::to_string(reply->depth)));

    // Depth 24 and 32 come as 32 bits per pixel, rows padded to 32 bits: B, G, R, X.
    const qsizetype rowBytes = qsizetype(rect.width()) * 4;
    const std::size_t length = std::size_t(xcb_get_image_data_length(reply.get()));
    if (length < std::size_t(rowBytes) * std::size_t(rect.height()))
        throw CaptureError("Az X kijelző hiányos képet adott a képernyőről.");
    QImage image(rect.size(), QImage::Format_RGB32);
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    for (int y = 0; y < rect.height(); ++y)
        std::memcpy(image.scanLine(y), data + std::size_t(y) * std::size_t(rowBytes), std::size_t(rowBytes));
    return image;
}

bool compositingManagerRunning()
{
    try {
        xcb::Connection connection;
        xcb_connection_t* c = connection.get();
        int screenNumber = 0;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it), ++screenNumber)
            if (it.data->root == connection.root()) break;
        const std::string name = "_NET_WM_CM_S" + std::to_string(screenNumber);
        Reply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::uint16_t(name.size()), name.c_str()), nullptr));
        // only_if_exists: no atom means no manager ever claimed it.
        if (!atom || atom->atom == XCB_ATOM_NONE) return false;
        Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
        return owner && owner->owner != XCB_NONE;
    } catch (const CaptureError&) {
        return false;
    }
}

} // namespace platform
