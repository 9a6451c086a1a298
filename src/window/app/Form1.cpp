#include "window/app/Form1.h"

#include "window/app/ErrorReport.h"
#include "window/app/Globals.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

// The icons are compiled into the program's static library, whose resources
// the linker keeps only when something names them.
static void initialiseResources() { Q_INIT_RESOURCE(resources); }

namespace {
const QString& Location = ErrorReport::Form1Location;

// Layout values are in twips, 15 to the pixel.
QRect twips(int left, int top, int width, int height) { return {left / 15, top / 15, width / 15, height / 15}; }

QFont windowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    font.setBold(true);
    return font;
}

QFont buttonFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    return font;
}

QIcon applicationIcon()
{
    initialiseResources();
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tessaly-%1.png").arg(size), QSize(size, size));
    return icon;
}
}  // namespace

Form1::Form1(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_platform(platform)
{
    buildControls();
    connectHandlers();
    Inet1 = m_platform.makeTransferControl();
    setUpAppearance();
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(1064, 364);
    setFont(windowFont());
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto button = [](QWidget* parent, const char* name, const QString& text, QRect geometry) {
        auto* pushButton = new QPushButton(text, parent);
        pushButton->setObjectName(QLatin1String(name));
        pushButton->setFont(buttonFont());
        pushButton->setGeometry(geometry);
        return pushButton;
    };
    auto list = [this](const char* name, QRect geometry) {
        auto* listView = new ListView(this);
        listView->setObjectName(QLatin1String(name));
        listView->setFont(windowFont());
        listView->setGeometry(geometry);
        return listView;
    };

    // Created in the window's control order, which is also its drawing order.
    Frame1 = new QGroupBox(QStringLiteral("Pause For Increased Accuracy (Seconds)"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twips(120, 4080, 7800, 765));
    Frame1->setAutoFillBackground(true);
    Frame1->setPalette(white);
    Text1 = new QLineEdit(QStringLiteral("Text1"), Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(240, 270, 6615, 345));
    PushButton12 = button(Frame1, "PushButton12", QStringLiteral("?"), twips(6960, 270, 600, 345));
    ListView1 = list("ListView1", twips(120, 120, 7800, 2385));
    ListView2 = list("ListView2", twips(8040, 120, 7800, 2070));
    ListView3 = list("ListView3", twips(8040, 2790, 7800, 2070));
    PushButton5 = button(this, "PushButton5", QStringLiteral("Add URL To List"), twips(120, 2595, 3840, 405));
    PushButton3 = button(this, "PushButton3", QStringLiteral("Load URLs From Text File"), twips(4080, 2595, 3840, 405));
    PushButton11 = button(this, "PushButton11", QStringLiteral("Clear List"), twips(120, 3105, 3840, 405));
    PushButton6 = button(this, "PushButton6", QStringLiteral("Save Results As Text File"), twips(8040, 2280, 3840, 405));
    PushButton1 = button(this, "PushButton1", QStringLiteral("Save Results As Text File"), twips(8040, 4950, 3840, 405));
    PushButton9 = button(this, "PushButton9", QStringLiteral("Clear List"), twips(12000, 2280, 3840, 405));
    PushButton2 = button(this, "PushButton2", QStringLiteral("Clear List"), twips(12000, 4950, 3840, 405));
    PushButton4 = button(this, "PushButton4", QStringLiteral("Start Checking"), twips(120, 4950, 7800, 405));
    PushButton8 = button(this, "PushButton8", QStringLiteral("Load Sample/Example URLs"), twips(4080, 3105, 3840, 405));
    PushButton7 = button(this, "PushButton7", QStringLiteral("Open Selected URL"), twips(120, 3615, 3840, 405));
    PushButton10 = button(this, "PushButton10", QStringLiteral("Help"), twips(4080, 3615, 3840, 405));

    // Keyboard focus order; the frame itself takes no focus.
    const QList<QWidget*> tabOrder{ListView1,   ListView2,   ListView3,    PushButton5, PushButton3, PushButton11,
                                   PushButton6, PushButton1, PushButton9,  PushButton2, PushButton4, PushButton8,
                                   Text1,       PushButton7, PushButton10, PushButton12};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    ListView1->setFocus();
}

void Form1::connectHandlers()
{
    connect(PushButton10, &QPushButton::clicked, this, &Form1::PushButton10_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton12, &QPushButton::clicked, this, &Form1::PushButton12_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form1::PushButton8_Click);
    connect(PushButton11, &QPushButton::clicked, this, &Form1::PushButton11_Click);
    connect(PushButton9, &QPushButton::clicked, this, &Form1::PushButton9_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(ListView1, &ListView::keyDown, this, &Form1::ListView1_KeyDown);
    connect(ListView2, &ListView::keyDown, this, &Form1::ListView2_KeyDown);
    connect(ListView3, &ListView::keyDown, this, &Form1::ListView3_KeyDown);
    connect(ListView1, &ListView::doubleClick, this, &Form1::ListView1_DblClick);
    connect(ListView2, &ListView::doubleClick, this, &Form1::ListView2_DblClick);
    connect(ListView3, &ListView::doubleClick, this, &Form1::ListView3_DblClick);
    connect(ListView3, &ListView::click, this, &Form1::ListView3_Click);
}

void Form1::start()
{
    Form_Load();
    centreFrameOnScreen();
    show();
    // The window manager's title bar and borders are known only once it has
    // framed the window; then the frame is centred again, once.
    if (frameGeometry() != geometry())
        centreFrameOnScreen();
    else
        m_centreWhenFramed = true;
}

void Form1::centreFrameOnScreen()
{
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size();
    move(available.x() + (available.width() - frame.width()) / 2, available.y() + (available.height() - frame.height()) / 2);
}

void Form1::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (m_centreWhenFramed && frameGeometry() != geometry()) {
        m_centreWhenFramed = false;
        centreFrameOnScreen();
    }
}

QString Form1::ApplicationTitleOf(const QString& productName)
{
    QString title = productName;
    do {
        const qsizetype lastSpace = title.lastIndexOf(u' ');
        if (lastSpace < 0)
            break;
        title.truncate(lastSpace);
    } while (title.size() > 40);
    return title;
}

// The step numbers are the ones the error report shows.
void Form1::Form_Load()
{
    StepTrap trap(m_platform.dialogs, Location + QStringLiteral("Form_Load "));
    const QString cursorPath = m_platform.programFolder.optionalFile(CursorFileName, Globals::FileExists);

    trap.step(100, [&] { ApplySkin(); });
    if (trap.opens(104, [&] { return Globals::FileExists(cursorPath); }))
        trap.step(106, [&] { loadCustomPointerPicture(cursorPath); });
    trap.step(108, [&] { homePageDraw(); });
    trap.step(126, [&] { setWindowTitle(ProductName); });
    trap.step(126, [&] { setWindowIcon(applicationIcon()); });
    trap.step(126, [&] { m_platform.dialogs.setApplicationTitle(ApplicationTitleOf(ProductName)); });
    trap.step(128, [&] { ListView1->addColumn(QStringLiteral("URL(s)")); });
    trap.step(130, [&] { ListView1->setColumnWidthTwips(1, 7000); });
    trap.step(132, [&] { ListView2->addColumn(QStringLiteral(" Valid URL(s)")); });
    trap.step(134, [&] { ListView2->setColumnWidthTwips(1, 7000); });
    trap.step(136, [&] { ListView3->addColumn(QStringLiteral("Invalid URL(s)")); });
    trap.step(138, [&] { ListView3->setColumnWidthTwips(1, 7000); });
    trap.step(140, [&] {
        Text1->setText(m_platform.settings.read(SettingsApplication, SettingsSection, QStringLiteral("Text1"),
                                                QStringLiteral("1")));
    });
}

void Form1::loadCustomPointerPicture(const QString& path)
{
    QPixmap picture;
    if (!picture.load(path))
        throw Failure(QStringLiteral("Invalid picture"));
    const QPoint hotspot = CursorHotspotOf(path);
    m_customPointer = QCursor(picture, hotspot.x(), hotspot.y());
}

// About one start in a hundred opens the maker's home page.
void Form1::homePageDraw()
{
    m_platform.random.seedFromClock();
    const int drawn = static_cast<int>(m_platform.random.nextFraction() * 100) + 1;
    if (drawn == 7 && !m_platform.shell.open(u'"' + HomePage + u'"'))
        throw Failure(QStringLiteral("The web browser could not be started"));
}

void Form1::PushButton10_Click()
{
    StepTrap trap(m_platform.dialogs, Location + QStringLiteral("PushButton10_Click "));
    trap.step(100, [&] {
        m_platform.dialogs.messageBox(QStringLiteral("Questions? Please contact Team Velmora at ") + ContactPage);
    });
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

// Closing the window ends the program at once, also in the middle of a check
// run or a save that is letting events through.
void Form1::Form_Unload()
{
    fileChannel.abandon();  // an unfinished save leaves the old file as it was
    m_platform.exit.exitNow();
}
