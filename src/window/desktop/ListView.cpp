#include "window/desktop/ListView.h"

#include "engine/Failure.h"

#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>
#include <utility>

const QString ListView::ToolTip =
    QStringLiteral("Double-click item to remove it. Move | line to right and out of window to reveal full names.");

ListItemsModel::ListItemsModel(QObject* parent) : QAbstractListModel(parent)
{
    m_catchUp.setSingleShot(true);
    m_catchUp.setInterval(CatchUpMilliseconds);
    connect(&m_catchUp, &QTimer::timeout, this, &ListItemsModel::catchUp);
}

int ListItemsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown);
}

int ListItemsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant ListItemsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return shownText(index.row());
    if (role == Qt::ToolTipRole)
        return ListView::ToolTip;
    return {};
}

// The text cut at a character's start, with an ellipsis to say it goes on.
QString ListItemsModel::shownText(qsizetype index) const
{
    const QByteArrayView utf8 = m_items.utf8(index);
    if (utf8.size() <= ShownBytes)
        return QString::fromUtf8(utf8);
    qsizetype end = ShownBytes;
    while (end > 0 && (static_cast<uchar>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return QString::fromUtf8(utf8.first(end)) + QChar(0x2026);
}

QVariant ListItemsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers[section];
    return {};
}

void ListItemsModel::append(QStringView text)
{
    m_items.append(text);
    scheduleCatchUp();
}

void ListItemsModel::appendUtf8(QByteArrayView utf8)
{
    m_items.appendUtf8(utf8);
    scheduleCatchUp();
}

void ListItemsModel::scheduleCatchUp()
{
    if (!m_catchUp.isActive())
        m_catchUp.start();
}

void ListItemsModel::catchUp()
{
    m_catchUp.stop();
    if (m_shown == m_items.size())
        return;
    beginInsertRows({}, static_cast<int>(m_shown), static_cast<int>(m_items.size() - 1));
    m_shown = m_items.size();
    endInsertRows();
}

void ListItemsModel::removeAt(qsizetype index)
{
    catchUp();
    beginRemoveRows({}, static_cast<int>(index), static_cast<int>(index));
    m_items.removeAt(index);
    m_shown = m_items.size();
    endRemoveRows();
}

void ListItemsModel::clear()
{
    m_catchUp.stop();
    beginResetModel();
    m_items.clear();
    m_shown = 0;
    endResetModel();
}

void ListItemsModel::addColumn(const QString& header)
{
    const int column = static_cast<int>(m_headers.size());
    beginInsertColumns({}, column, column);
    m_headers.append(header);
    endInsertColumns();
}

ListView::ListView(QWidget* parent) : QTreeView(parent)
{
    setModel(&m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    setToolTip(ToolTip);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void ListView::addColumn(const QString& header) { m_model.addColumn(header); }

void ListView::setColumnWidthTwips(int column, int twips)
{
    if (column < 1 || column > m_model.columns())
        throw Failure(QStringLiteral("Index out of bounds"));
    setColumnWidth(column - 1, static_cast<int>(std::lround(twips / 15.0)));
}

void ListView::checkPosition(int position) const
{
    if (position < 1 || position > count())
        throw Failure(QStringLiteral("Index out of bounds"));
}

QString ListView::text(int position) const
{
    checkPosition(position);
    return m_model.items().text(position - 1);
}

void ListView::remove(int position)
{
    checkPosition(position);
    const std::optional<int> selected = selectedPosition();
    m_model.removeAt(position - 1);
    // The item that moves up into the removed one's place becomes the
    // selected one, so Delete pressed again goes on down the list.
    if (selected == position && count() > 0)
        select(std::min(position, count()));
}

std::optional<int> ListView::selectedPosition() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.front().row() + 1;
}

std::optional<ListView::SelectedItem> ListView::selectedItem() const
{
    const std::optional<int> position = selectedPosition();
    if (!position)
        return std::nullopt;
    return SelectedItem{*position, m_model.items().text(*position - 1)};
}

void ListView::select(int position)
{
    checkPosition(position);
    m_model.catchUp();
    const QModelIndex index = m_model.index(position - 1, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int ListView::keyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers)
{
    // Digits and letters share their codes with Qt's; the keypad has codes
    // of its own, whichever character Num Lock makes it type.
    const bool digit = qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9;
    if (modifiers & Qt::KeypadModifier) {
        if (digit)
            return 96 + (qtKey - Qt::Key_0);
        switch (qtKey) {
        case Qt::Key_Asterisk:
            return 106;
        case Qt::Key_Plus:
            return 107;
        case Qt::Key_Minus:
            return 109;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return 110;
        case Qt::Key_Slash:
            return 111;
        default:
            break;
        }
    }
    if (digit || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    static const QHash<int, int> codes{
        {Qt::Key_Backspace, 8},      {Qt::Key_Tab, 9},          {Qt::Key_Backtab, 9},        {Qt::Key_Return, 13},
        {Qt::Key_Enter, 13},         {Qt::Key_Shift, 16},       {Qt::Key_Control, 17},       {Qt::Key_Alt, 18},
        {Qt::Key_Pause, 19},         {Qt::Key_CapsLock, 20},    {Qt::Key_Escape, 27},        {Qt::Key_Space, 32},
        {Qt::Key_PageUp, 33},        {Qt::Key_PageDown, 34},    {Qt::Key_End, 35},           {Qt::Key_Home, 36},
        {Qt::Key_Left, 37},          {Qt::Key_Up, 38},          {Qt::Key_Right, 39},         {Qt::Key_Down, 40},
        {Qt::Key_Print, 44},         {Qt::Key_Insert, 45},      {Qt::Key_Delete, KeyDelete}, {Qt::Key_Meta, 91},
        {Qt::Key_Menu, 93},          {Qt::Key_NumLock, 144},    {Qt::Key_ScrollLock, 145},   {Qt::Key_Semicolon, 186},
        {Qt::Key_Equal, 187},        {Qt::Key_Comma, 188},      {Qt::Key_Minus, 189},        {Qt::Key_Period, 190},
        {Qt::Key_Slash, 191},        {Qt::Key_QuoteLeft, 192},  {Qt::Key_BracketLeft, 219},  {Qt::Key_Backslash, 220},
        {Qt::Key_BracketRight, 221}, {Qt::Key_Apostrophe, 222},
    };
    return codes.value(qtKey, 0);
}

void ListView::keyPressEvent(QKeyEvent* event)
{
    int shift = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        shift |= ShiftMask;
    if (event->modifiers() & Qt::ControlModifier)
        shift |= CtrlMask;
    if (event->modifiers() & Qt::AltModifier)
        shift |= AltMask;
    emit keyDown(keyCodeOf(event->key(), event->modifiers()), shift);
    QTreeView::keyPressEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    // The release that ends a double click is no click of its own.
    const bool endsDoubleClick = std::exchange(m_inDoubleClick, false);
    if (event->button() == Qt::LeftButton && !endsDoubleClick)
        emit click();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_inDoubleClick = true;
        emit doubleClick();
    }
}

void ListView::mouseMoveEvent(QMouseEvent* event)
{
    QTreeView::mouseMoveEvent(event);
    emit mouseMove();
}
