// The window's look: the skin from the program folder, the hand pointer over
// the buttons, the busy pointer over everything.
#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "window/app/Globals.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtEndian>

#include <functional>

namespace {
const QString SkinFolder = QStringLiteral("x");
const QString SkinFileName = QStringLiteral("o.cjs");

// Where a widget's own cursor is kept while the busy pointer covers it.
constexpr char OwnCursorProperty[] = "tessalyOwnCursor";

// A directory search for exactly that name among normal files: a folder, a
// hidden file, a fifo, socket, device or broken link of that name is absent.
bool isNormalFile(const QString& path)
{
    const QFileInfo info(path);
    const QStringList found = info.dir().entryList({info.fileName()}, QDir::Files | QDir::CaseSensitive);
    return found.contains(info.fileName());
}

QString skinPathIn(const ProgramFolder& programFolder)
{
    return programFolder.optionalFile(SkinFolder + Globals::PathSeparator + SkinFileName, isNormalFile);
}

// The kinds of control that take the button-face colour under a skin.
bool followsSkinColour(const QWidget* control)
{
    return qobject_cast<const QGroupBox*>(control) || qobject_cast<const QLabel*>(control)
        || qobject_cast<const QCheckBox*>(control) || qobject_cast<const QRadioButton*>(control);
}

void setBackgroundColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Calls the handler on every pointer movement over the widget, before the
// widget itself sees it.
class PointerMovement : public QObject {
public:
    PointerMovement(QWidget* widget, std::function<void()> handler) : QObject(widget), m_handler(std::move(handler))
    {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove && watched == parent())
            m_handler();
        return false;
    }

private:
    std::function<void()> m_handler;
};
}  // namespace

void Form1::setUpAppearance()
{
    if (m_platform.makeSkinFramework)
        SkinFramework1 = m_platform.makeSkinFramework();

    const std::pair<QPushButton*, void (Form1::*)()> buttons[] = {
        {PushButton1, &Form1::PushButton1_MouseMove},   {PushButton2, &Form1::PushButton2_MouseMove},
        {PushButton3, &Form1::PushButton3_MouseMove},   {PushButton4, &Form1::PushButton4_MouseMove},
        {PushButton5, &Form1::PushButton5_MouseMove},   {PushButton6, &Form1::PushButton6_MouseMove},
        {PushButton7, &Form1::PushButton7_MouseMove},   {PushButton8, &Form1::PushButton8_MouseMove},
        {PushButton9, &Form1::PushButton9_MouseMove},   {PushButton10, &Form1::PushButton10_MouseMove},
        {PushButton11, &Form1::PushButton11_MouseMove}, {PushButton12, &Form1::PushButton12_MouseMove},
    };
    for (const auto& button : buttons)
        new PointerMovement(button.first, [this, handler = button.second] { (this->*handler)(); });
    new PointerMovement(this, [this] { Form_MouseMove(); });
    new PointerMovement(Frame1, [this] { Frame1_MouseMove(); });
    const std::pair<ListView*, void (Form1::*)()> lists[] = {
        {ListView1, &Form1::ListView1_MouseMove},
        {ListView2, &Form1::ListView2_MouseMove},
        {ListView3, &Form1::ListView3_MouseMove},
    };
    for (const auto& list : lists) {
        connect(list.first, &ListView::mouseMove, this, list.second);
        // The column header belongs to the list as much as its rows do.
        new PointerMovement(list.first->header()->viewport(), [this, handler = list.second] { (this->*handler)(); });
    }

    // A movement belongs to the control under the pointer alone: it must not
    // travel on to the frame or the window behind it, or the hover over a
    // button would be undone at once. The pause field has no handler, so a
    // movement over it changes nothing.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        control->setAttribute(Qt::WA_NoMousePropagation);
    for (QWidget* control : Frame1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        control->setAttribute(Qt::WA_NoMousePropagation);
}

// Called by start-up as its step 100; a failure here is reported there.
void Form1::ApplySkin()
{
    // Looked up once, so that the file tested is the file loaded.
    const QString skinPath = skinPathIn(m_platform.programFolder);
    if (!isNormalFile(skinPath))
        return;
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    setBackgroundColour(this, buttonFace);
    for (QWidget* control : findChildren<QWidget*>())
        if (followsSkinColour(control))
            setBackgroundColour(control, buttonFace);
    if (!SkinFramework1)
        throw Failure(QStringLiteral("No skin framework"));
    SkinFramework1->loadSkin(skinPath, QString());
    SkinFramework1->setOptions(SkinFramework1->options() | SkinFramework::OptionStyledBackground);
    SkinFramework1->setResolveRelativeUrls(true);
    SkinFramework1->setSkinDialogs(true);
    SkinFramework1->applyWindow(winId());
}

void Form1::setMousePointer(int value)
{
    const bool wasBusy = m_mousePointer == PointerBusy;
    m_mousePointer = value;

    // The busy pointer covers the whole window, also the controls that show a
    // pointer of their own (the text field's I-beam); they get theirs back
    // when the window is no longer busy. Only entering or leaving the busy
    // pointer walks the controls: the hovers call this on every movement.
    if (value == PointerBusy && !wasBusy) {
        for (QWidget* control : findChildren<QWidget*>()) {
            if (control->testAttribute(Qt::WA_SetCursor)) {
                control->setProperty(OwnCursorProperty, QVariant::fromValue(control->cursor()));
                control->setCursor(Qt::WaitCursor);
            }
        }
    } else if (value != PointerBusy && wasBusy) {
        for (QWidget* control : findChildren<QWidget*>()) {
            const QVariant own = control->property(OwnCursorProperty);
            if (own.isValid()) {
                control->setCursor(own.value<QCursor>());
                control->setProperty(OwnCursorProperty, QVariant());
            }
        }
    }

    if (value == PointerBusy)
        setCursor(Qt::WaitCursor);
    else if (value == PointerHand)
        setCursor(m_customPointer.value_or(QCursor(Qt::PointingHandCursor)));
    else
        unsetCursor();
}

// A cursor file is laid out as an icon file of type 2; its directory entries
// hold the hotspot where an icon's hold its colour planes and depth. Qt's reader
// drops it, so it is read here. Anything else points from its centre, which
// is what (-1, -1) asks of QCursor.
QPoint Form1::CursorHotspotOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QByteArray head = file.read(6 + 16);
    if (head.size() < 6 + 16)
        return {-1, -1};
    const auto word = [&head](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    if (word(0) != 0 || word(2) != 2 || word(4) < 1)
        return {-1, -1};
    return {word(6 + 4), word(6 + 6)};
}

// The hover rule: a movement over a button shows the hand, over anything else
// that has a handler the standard pointer; the busy pointer stays whatever
// the pointer moves over.
namespace {
void hover(Form1& form, int pointer)
{
    untrapped("MouseMove", [&] {
        if (form.MousePointer() != Form1::PointerBusy)
            form.setMousePointer(pointer);
    });
}
}  // namespace

void Form1::PushButton1_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton2_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton3_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton4_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton5_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton6_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton7_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton8_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton9_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton10_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton11_MouseMove() { hover(*this, PointerHand); }
void Form1::PushButton12_MouseMove() { hover(*this, PointerHand); }
void Form1::Form_MouseMove() { hover(*this, PointerStandard); }
void Form1::ListView1_MouseMove() { hover(*this, PointerStandard); }
void Form1::ListView2_MouseMove() { hover(*this, PointerStandard); }
void Form1::ListView3_MouseMove() { hover(*this, PointerStandard); }
void Form1::Frame1_MouseMove() { hover(*this, PointerStandard); }
