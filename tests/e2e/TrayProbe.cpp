#include "TrayProbe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

TrayProbe::TrayProbe() {
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const char name[] = "_NET_WM_PID";
    auto *reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, sizeof(name) - 1, name), nullptr);
    if (reply)
        m_pidAtom = reply->atom;
    std::free(reply);
}

TrayProbe::~TrayProbe() {
    xcb_disconnect(m_connection);
}

bool TrayProbe::isConnected() const {
    return !xcb_connection_has_error(m_connection) && m_pidAtom != 0;
}

std::optional<QRect> TrayProbe::dockedIcon(qint64 pid) {
    if (!isConnected())
        return std::nullopt;
    return search(m_root, pid, 0);
}

std::optional<QRect> TrayProbe::search(quint32 parent, qint64 pid, int depth) {
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr),
        &std::free);
    if (!tree)
        return std::nullopt;
    const int count = xcb_query_tree_children_length(tree.get());
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < count; ++i) {
        if (depth > 0 && windowPid(children[i]) == pid && isViewable(children[i]))
            return screenGeometry(children[i]);
        if (depth < 4) {
            if (auto found = search(children[i], pid, depth + 1))
                return found;
        }
    }
    return std::nullopt;
}

std::optional<qint64> TrayProbe::windowPid(quint32 window) {
    auto *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    std::optional<qint64> pid;
    if (reply && xcb_get_property_value_length(reply) == 4)
        pid = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return pid;
}

bool TrayProbe::isViewable(quint32 window) {
    auto *reply = xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

QRect TrayProbe::screenGeometry(quint32 window) {
    auto *geometry =
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
    auto *origin = xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
    QRect rect;
    if (geometry && origin)
        rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(origin);
    return rect;
}
