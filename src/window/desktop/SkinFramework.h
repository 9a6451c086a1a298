#pragma once

#include <QString>
#include <QWidget>

// The window's theming layer. It is driven only when a skin file exists, in a
// fixed order: load the skin, set option bit 0, turn both switches on, apply
// the skin to the window by its handle. Any step that cannot be done raises
// Failure.
class SkinFramework {
public:
    // Option bits.
    static constexpr int OptionStyledBackground = 1;  // the skin paints the window's own background

    virtual ~SkinFramework() = default;

    // Reads the skin. The image folder is where relative url(...) references
    // of the skin point; empty means the skin file's own folder.
    virtual void loadSkin(const QString& skinPath, const QString& imageFolder) = 0;

    virtual int options() const = 0;
    virtual void setOptions(int options) = 0;

    // Relative url(...) references resolve against the image folder rather
    // than the working directory.
    virtual void setResolveRelativeUrls(bool on) = 0;
    // The program's boxes and dialogs take the skin as well as the window.
    virtual void setSkinDialogs(bool on) = 0;

    // Skins the top-level window with this handle and everything on it.
    virtual void applyWindow(WId handle) = 0;
};

// The skin file is a Qt style sheet.
class QtSkinFramework : public SkinFramework {
public:
    void loadSkin(const QString& skinPath, const QString& imageFolder) override;
    int options() const override { return m_options; }
    void setOptions(int options) override { m_options = options; }
    void setResolveRelativeUrls(bool on) override { m_resolveRelativeUrls = on; }
    void setSkinDialogs(bool on) override { m_skinDialogs = on; }
    void applyWindow(WId handle) override;

    // The style sheet as it will be applied.
    QString styleSheet() const;
    // Every relative url(...) of the sheet made absolute against the folder.
    static QString withUrlsResolved(const QString& sheet, const QString& folder);

private:
    bool m_loaded = false;
    QString m_sheet;
    QString m_imageFolder;
    int m_options = 0;
    bool m_resolveRelativeUrls = false;
    bool m_skinDialogs = false;
};
