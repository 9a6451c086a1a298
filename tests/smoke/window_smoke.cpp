// Starts the real program under an X server (xvfb-run) and a window manager
// (openbox) with an empty home folder, finds its window, checks its size, its
// icon, that its frame is centred on the screen and the first-start setting,
// and closes it the way a window manager would, expecting the process to end.
// Usage: tst_window_smoke <path to tessaly>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QPoint>
#include <QSize>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
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

// A property's value, up to `words` 32-bit words of it.
QByteArray propertyOf(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                      quint32 words = 256)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, words), nullptr),
        &std::free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

quint32 windowPid(xcb_connection_t* connection, xcb_window_t window)
{
    const QByteArray value = propertyOf(connection, window, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
    return value.size() == 4 ? *reinterpret_cast<const quint32*>(value.constData()) : 0;
}

QList<xcb_window_t> childrenOf(xcb_connection_t* connection, xcb_window_t window)
{
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr), &std::free);
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return QList<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

// The mapped window of that process whose title is the caption, or none,
// searched below `parent`: a window manager puts each window in a frame of
// its own. Matching the process keeps another program's window on the same
// display out of it.
xcb_window_t findWindow(xcb_connection_t* connection, xcb_window_t parent, const QByteArray& caption, qint64 pid)
{
    const xcb_atom_t netName = atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    for (xcb_window_t child : childrenOf(connection, parent)) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, child), nullptr), &std::free);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        if (windowPid(connection, child) == pid
            && (propertyOf(connection, child, netName, utf8) == caption
                || propertyOf(connection, child, XCB_ATOM_WM_NAME, XCB_ATOM_STRING) == caption))
            return child;
        if (const xcb_window_t found = findWindow(connection, child, caption, pid); found != XCB_WINDOW_NONE)
            return found;
    }
    return XCB_WINDOW_NONE;
}

// The window's outermost ancestor below the root: the frame the window
// manager drew around it, or the window itself when nothing framed it.
xcb_window_t frameOf(xcb_connection_t* connection, xcb_window_t window)
{
    for (;;) {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr), &std::free);
        if (!tree || tree->parent == tree->root)
            return window;
        window = tree->parent;
    }
}

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// Position on the screen and outer size, borders included.
Box boxOf(xcb_connection_t* connection, xcb_window_t window, xcb_window_t root)
{
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> origin(
        xcb_translate_coordinates_reply(connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr),
        &std::free);
    if (!geometry || !origin)
        return {};
    const int border = geometry->border_width;
    return {origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border, geometry->height + 2 * border};
}

// The sizes of the pictures in a _NET_WM_ICON value (width, height, then
// the pixels, for each picture), counting only pictures with something drawn.
QList<QSize> iconSizes(const QByteArray& value)
{
    QList<QSize> sizes;
    const auto* words = reinterpret_cast<const quint32*>(value.constData());
    const qsizetype count = value.size() / 4;
    for (qsizetype at = 0; at + 2 <= count;) {
        const qsizetype width = words[at], height = words[at + 1];
        const qsizetype pixels = width * height;
        if (pixels <= 0 || at + 2 + pixels > count)
            break;
        if (std::any_of(words + at + 2, words + at + 2 + pixels, [](quint32 pixel) { return (pixel >> 24) != 0; }))
            sizes << QSize(int(width), int(height));
        at += 2 + pixels;
    }
    return sizes;
}

// Starts openbox and waits until it manages the screen.
bool startWindowManager(QProcess& manager, xcb_connection_t* connection, xcb_window_t root,
                        const QProcessEnvironment& environment)
{
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty())
        return false;
    manager.setProcessEnvironment(environment);
    manager.start(openbox, {QStringLiteral("--sm-disable")});
    if (!manager.waitForStarted(10000))
        return false;
    const xcb_atom_t check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
    for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); QThread::msleep(100)) {
        if (!propertyOf(connection, root, check, XCB_ATOM_WINDOW, 1).isEmpty())
            return true;
    }
    return false;
}

// The titles of every window of the process, framed or not.
QList<QByteArray> windowNames(xcb_connection_t* connection, xcb_window_t parent, qint64 pid)
{
    QList<QByteArray> names;
    for (xcb_window_t child : childrenOf(connection, parent)) {
        if (windowPid(connection, child) == pid)
            names << propertyOf(connection, child, atom(connection, "_NET_WM_NAME"), atom(connection, "UTF8_STRING"));
        names << windowNames(connection, child, pid);
    }
    return names;
}
}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return failed("usage: tst_window_smoke <tessaly>");

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        return failed("no X server (run under xvfb-run)");
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const QPoint screenCentre(screens.data->width_in_pixels / 2, screens.data->height_in_pixels / 2);

    QTemporaryDir home;
    QTemporaryDir emptyPath;  // no browser launcher can be found from here
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));

    QProcess windowManager;
    if (!startWindowManager(windowManager, connection, root, environment))
        return failed("the window manager (openbox) did not start");

    environment.insert(QStringLiteral("PATH"), emptyPath.path());
    // The one start in a hundred that opens the home page hands it to a
    // "browser" that does nothing; without one the start-up would stop at
    // the box that reports the failure.
    const QString noBrowser = QStandardPaths::findExecutable(QStringLiteral("true"));
    if (noBrowser.isEmpty())
        return failed("no \"true\" to stand in for the browser");
    environment.insert(QStringLiteral("BROWSER"), noBrowser);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QString::fromLocal8Bit(argv[1]), {});
    if (!program.waitForStarted(10000))
        return failed("the program did not start");

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

    // Every size of the icon, each with a picture in it.
    const QList<QSize> icons = iconSizes(propertyOf(connection, window, atom(connection, "_NET_WM_ICON"),
                                                    XCB_ATOM_CARDINAL, 1 << 20));
    for (int size : {32, 48, 128, 256}) {
        if (!icons.contains(QSize(size, size))) {
            std::fprintf(stderr, "icon sizes drawn: %d\n", int(icons.size()));
            return failed("the window carries no icon picture of every size");
        }
    }

    // The frame, title bar and borders included, in the middle of the screen,
    // once the window manager has framed the window and the program has
    // answered that.
    Box frame;
    auto centred = [&] {
        frame = boxOf(connection, frameOf(connection, window), root);
        const QPoint centre(frame.x + frame.width / 2, frame.y + frame.height / 2);
        return frame.height > 364 && (centre - screenCentre).manhattanLength() <= 2;
    };
    for (QDeadlineTimer deadline(10000); !centred() && !deadline.hasExpired();)
        QThread::msleep(100);
    if (!centred()) {
        std::fprintf(stderr, "frame at %d,%d size %dx%d; screen centre %d,%d\n", frame.x, frame.y, frame.width,
                     frame.height, screenCentre.x(), screenCentre.y());
        return failed("the window's frame is not centred on the screen");
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
    windowManager.kill();
    windowManager.waitForFinished();
    if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
        return failed("the program did not end cleanly");
    std::printf("frame at %d,%d size %dx%d\n", frame.x, frame.y, frame.width, frame.height);
    std::printf("1 passed, 0 failed\n");
    return 0;
}
