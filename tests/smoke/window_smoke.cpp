// Starts the real program under an X server (xvfb-run) with an empty home
// folder, finds its window, checks its size and the first-start setting, and
// closes it the way a window manager would, expecting the process to end.
// Usage: tst_window_smoke <path to tessaly>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
int failed(const char* what)
{
    std::fprintf(stderr, "FAIL: %s\n", what);
    return 1;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray windowName(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 256), nullptr),
        &std::free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

quint32 windowPid(xcb_connection_t* connection, xcb_window_t window)
{
    const QByteArray value = windowName(connection, window, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
    return value.size() == 4 ? *reinterpret_cast<const quint32*>(value.constData()) : 0;
}

// The mapped top-level window of that process whose title is the caption, or
// none. Matching the process keeps another program's window on the same
// display out of it.
xcb_window_t findWindow(xcb_connection_t* connection, xcb_window_t root, const QByteArray& caption, qint64 pid)
{
    const xcb_atom_t netName = atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr), &std::free);
    if (!tree)
        return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, children[i]), nullptr),
            &std::free);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || windowPid(connection, children[i]) != pid)
            continue;
        if (windowName(connection, children[i], netName, utf8) == caption
            || windowName(connection, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING) == caption)
            return children[i];
    }
    return XCB_WINDOW_NONE;
}
// The titles of every mapped top-level window of the process.
QList<QByteArray> windowNames(xcb_connection_t* connection, xcb_window_t root, qint64 pid)
{
    QList<QByteArray> names;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr), &std::free);
    if (!tree)
        return names;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        if (windowPid(connection, children[i]) == pid)
            names << windowName(connection, children[i], atom(connection, "_NET_WM_NAME"), atom(connection, "UTF8_STRING"));
    }
    return names;
}
}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return failed("usage: tst_window_smoke <tessaly>");

    QTemporaryDir home;
    QTemporaryDir emptyPath;  // no browser launcher can be found from here
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    environment.insert(QStringLiteral("PATH"), emptyPath.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QString::fromLocal8Bit(argv[1]), {});
    if (!program.waitForStarted(10000))
        return failed("the program did not start");

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        return failed("no X server (run under xvfb-run)");
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;

    xcb_window_t window = XCB_WINDOW_NONE;
    for (QDeadlineTimer deadline(20000); window == XCB_WINDOW_NONE && !deadline.hasExpired();) {
        window = findWindow(connection, root, "Tessaly Software", program.processId());
        if (window == XCB_WINDOW_NONE)
            QThread::msleep(100);
    }
    if (window == XCB_WINDOW_NONE)
        return failed("no window captioned \"Tessaly Software\" appeared");

    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    if (!geometry || geometry->width != 1064 || geometry->height != 364) {
        std::fprintf(stderr, "window is %dx%d\n", geometry ? geometry->width : 0, geometry ? geometry->height : 0);
        return failed("the window is not 1064 x 364");
    }

    QFile setting(home.path() + QStringLiteral("/.config/Velmora/Tessaly Software.conf"));
    if (!setting.open(QIODevice::ReadOnly) || !setting.readAll().contains("Text1=1"))
        return failed("the first start did not store \"1\" under Text1");

    // Close it as a window manager does: WM_DELETE_WINDOW.
    xcb_client_message_event_t close{};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = window;
    close.type = atom(connection, "WM_PROTOCOLS");
    close.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    close.data.data32[1] = XCB_CURRENT_TIME;
    // Sent again every half second until the program ends: on a loaded
    // machine the first one was seen to go unanswered.
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
        xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&close));
        // A round trip: the server has passed the message on when it answers.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        if (program.waitForFinished(500))
            break;
    }

    if (program.state() != QProcess::NotRunning) {
        // Name what the program still shows: a box in front of the window
        // would keep it from closing.
        for (const QByteArray& name : windowNames(connection, root, program.processId()))
            std::fprintf(stderr, "still shown: \"%s\"\n", name.constData());
        program.kill();
        return failed("the program did not end when its window was closed");
    }
    xcb_disconnect(connection);
    if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
        return failed("the program did not end cleanly");
    std::printf("1 passed, 0 failed\n");
    return 0;
}
