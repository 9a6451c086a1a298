#pragma once

#include "engine/lists/FileChannel.h"
#include "window/desktop/ListView.h"
#include "window/desktop/Platform.h"
#include "engine/transfer/TransferControl.h"

#include <QCursor>
#include <QWidget>

#include <memory>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPushButton;

// The main window and everything it owns for its lifetime: the three lists,
// the pause field, the window pointer, the check run's running flag. Each
// subsystem's handlers live in that subsystem's folder.
class Form1 : public QWidget {
    Q_OBJECT
public:
    static inline const QString ProductName = QStringLiteral("Tessaly Software");
    static inline const QString HomePage = QStringLiteral("http://www.velmora.example/");
    static inline const QString ContactPage = QStringLiteral("http://www.velmora.example/contact/");
    static inline const QString SettingsApplication = QStringLiteral("Velmora");
    static inline const QString SettingsSection = QStringLiteral("Tessaly Software");
    static inline const QString CursorFileName = QStringLiteral("HAND-M.CUR");

    // Window pointer values.
    static constexpr int PointerStandard = 0;
    static constexpr int PointerBusy = 11;
    static constexpr int PointerHand = 99;

    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // Program entry: the start-up steps while the window is hidden, then the
    // window shown centred on the screen.
    void start();

    // The application title: the product name cut at its last space, and
    // again while it is longer than 40 characters.
    static QString ApplicationTitleOf(const QString& productName);

    Platform& platform() { return m_platform; }

    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int value);
    // The window counts as busy while it shows the busy pointer.
    bool isBusy() const { return m_mousePointer == PointerBusy; }
    const std::optional<QCursor>& customPointerPicture() const { return m_customPointer; }

    // Controls, named as in the window.
    QGroupBox* Frame1;
    QLineEdit* Text1;
    QPushButton* PushButton12;
    ListView* ListView1;
    ListView* ListView2;
    ListView* ListView3;
    QPushButton* PushButton5;
    QPushButton* PushButton3;
    QPushButton* PushButton11;
    QPushButton* PushButton6;
    QPushButton* PushButton1;
    QPushButton* PushButton9;
    QPushButton* PushButton2;
    QPushButton* PushButton4;
    QPushButton* PushButton8;
    QPushButton* PushButton7;
    QPushButton* PushButton10;
    std::unique_ptr<TransferControl> Inet1;  // the HTTP transfer control

    // The one file channel, shared by loading and saving.
    FileChannel fileChannel;

    // Start-up and the end of the program.
    void Form_Load();
    void Form_Unload();
    void PushButton10_Click();

    // Appearance.
    void ApplySkin();
    void PushButton1_MouseMove();
    void PushButton2_MouseMove();
    void PushButton3_MouseMove();
    void PushButton4_MouseMove();
    void PushButton5_MouseMove();
    void PushButton6_MouseMove();
    void PushButton7_MouseMove();
    void PushButton8_MouseMove();
    void PushButton9_MouseMove();
    void PushButton10_MouseMove();
    void PushButton11_MouseMove();
    void PushButton12_MouseMove();
    void Form_MouseMove();
    void ListView1_MouseMove();
    void ListView2_MouseMove();
    void ListView3_MouseMove();
    void Frame1_MouseMove();
    std::unique_ptr<SkinFramework> SkinFramework1;
    // Where a cursor file's pointer points, as the file gives it.
    static QPoint CursorHotspotOf(const QString& path);
    // The theming layer and the hover handlers; called once by the constructor.
    void setUpAppearance();

    // Checking.
    void PushButton4_Click();
    void PushButton12_Click();
    void Text1_Change();

    // List editing.
    void PushButton5_Click();
    void PushButton8_Click();
    void PushButton11_Click();
    void PushButton9_Click();
    void PushButton2_Click();
    void PushButton7_Click();
    void ListView1_KeyDown(int keyCode, int shift);
    void ListView2_KeyDown(int keyCode, int shift);
    void ListView3_KeyDown(int keyCode, int shift);
    void ListView1_DblClick();
    void ListView2_DblClick();
    void ListView3_DblClick();
    void ListView3_Click();

    // Loading and saving lists.
    void PushButton3_Click();
    void PushButton6_Click();
    void PushButton1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    void loadCustomPointerPicture(const QString& path);
    void homePageDraw();
    // Puts the window's frame, title bar and borders included, in the middle
    // of the screen it is on.
    void centreFrameOnScreen();

    Platform& m_platform;
    int m_mousePointer = PointerStandard;
    std::optional<QCursor> m_customPointer;
    bool m_running = false;  // a check run is going
    bool m_centreWhenFramed = false;
};
