#pragma once

#include "window/desktop/ItemStore.h"

#include <QAbstractListModel>
#include <QTimer>
#include <QTreeView>

#include <optional>

// The items of one list as the view sees them. Appends land in the store at
// once, so the program's count, texts and saving see every item immediately;
// the view is told about them in batches, because each insert notice makes it
// lay out the whole list again.
class ListItemsModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int CatchUpMilliseconds = 100;
    // The most of an item's text a row shows, in UTF-8 bytes. Every paint and
    // size hint of a row lays its text out, so a single line of hundreds of
    // megabytes would freeze the window; the item itself stays whole.
    static constexpr qsizetype ShownBytes = 8192;

    explicit ListItemsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const ItemStore& items() const { return m_items; }
    void append(QStringView text);
    void appendUtf8(QByteArrayView utf8);
    void reserve(qsizetype items, qsizetype bytes) { m_items.reserve(items, bytes); }
    void removeAt(qsizetype index);
    void clear();

    void addColumn(const QString& header);
    qsizetype columns() const { return m_headers.size(); }

    // Tells the view about every item it has not been told of yet.
    void catchUp();

private:
    void scheduleCatchUp();
    QString shownText(qsizetype index) const;

    ItemStore m_items;
    qsizetype m_shown = 0;
    QStringList m_headers;
    QTimer m_catchUp;
};

// A report-view list with one column: the list control of the main window.
// Positions count from 1; a position that does not exist raises Failure.
class ListView : public QTreeView {
    Q_OBJECT
public:
    static const QString ToolTip;
    // Key codes as the key-down event reports them: the desktop's virtual-key
    // codes, not Qt's (Qt gives the full stop the code that is Delete here).
    static constexpr int KeyDelete = 46;
    // The key code of a Qt key, 0 for a key that has none.
    static int keyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers);
    // Shift state bits of the key-down event.
    static constexpr int ShiftMask = 1, CtrlMask = 2, AltMask = 4;

    struct SelectedItem {
        int position;
        QString text;
    };

    explicit ListView(QWidget* parent = nullptr);

    // Column headers, in twips for the width as the layout gives it.
    void addColumn(const QString& header);
    void setColumnWidthTwips(int column, int twips);

    void add(QStringView text) { m_model.append(text); }
    void addUtf8(QByteArrayView utf8) { m_model.appendUtf8(utf8); }
    void reserve(qsizetype items, qsizetype bytes) { m_model.reserve(items, bytes); }
    void remove(int position);
    void clear() { m_model.clear(); }
    int count() const { return static_cast<int>(m_model.items().size()); }
    QString text(int position) const;
    const ItemStore& items() const { return m_model.items(); }
    std::optional<SelectedItem> selectedItem() const;
    std::optional<int> selectedPosition() const;
    // Selects the item at a position (tests and keyboard users).
    void select(int position);

    ListItemsModel& model() { return m_model; }

signals:
    void keyDown(int keyCode, int shift);
    void click();
    void doubleClick();
    void mouseMove();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void checkPosition(int position) const;

    ListItemsModel m_model;
    bool m_inDoubleClick = false;
};
