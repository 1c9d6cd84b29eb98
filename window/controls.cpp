#include "controls.h"

#include <limits>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "watching/lifecycle.h"
#include "window/fonts.h"
#include "window/bannerview.h"

namespace {

constexpr QRgb kDarkRed = 0xffc00000;
constexpr QRgb kYellow = 0xffffff00;
// The text box keeps the desktop colour for its text (black on current desktops) on white.
constexpr QRgb kDesktopColour = 0xff000000;
constexpr QRgb kTextBoxBack = 0xffffffff;
// The bar beside an entry with changes the user has not looked at.
constexpr QRgb kUnseenBar = 0xff2a6fdb;

} // namespace

// clang-format off
const std::array<ControlRow, 14> kControlTable = {{
    {&Controls::domainBox,       "tb_url",      "不要输入www.",  1440,  840, 3135,  375, 0,        ControlFont::Standard},
    {&Controls::queryButton,     "Command1",    "查询",          4800,  840,  855,  375, 0,        ControlFont::Standard},
    {&Controls::domainLabel,     "lb_url",      "",              1440, 2010, 3255,  255, 0,        ControlFont::Standard},
    {&Controls::registrarLabel,  "lb_cop",      "",              1440, 2880, 3255,  255, 0,        ControlFont::Standard},
    {&Controls::registrantLabel, "lb_truename", "",              1560, 2440, 3255,  255, 0,        ControlFont::Standard},
    {&Controls::emailLabel,      "lb_mail",     "",              1440, 3300, 3255,  255, 0,        ControlFont::Standard},
    {&Controls::createdLabel,    "lb_bdate",    "",              1680, 3780, 3255,  255, 0,        ControlFont::Standard},
    {&Controls::expiresLabel,    "lb_edate",    "",              1680, 4200, 3255,  255, kDarkRed, ControlFont::Standard},
    {&Controls::watchButton,     "Command2",    "关注",          5880,  840,  855,  375, 0,        ControlFont::Standard},
    {&Controls::watchList,       "List1",       "",              5280, 2040, 1800, 2400, 0,        ControlFont::Standard},
    {&Controls::deleteButton,    "Command3",    "删除",          5880, 4560,  615,  255, 0,        ControlFont::Standard},
    {&Controls::closeLabel,      "Label1",      "X",             7200,  120,  150,  285, kDarkRed, ControlFont::Close},
    {&Controls::siteLabel,       "Label2",      "访问官方网站",  5880,  160, 1080,  180, kYellow,  ControlFont::Standard},
    {&Controls::bannerView,      "wb1",         "",                 0, 5240, 7575,  615, 0,        ControlFont::Standard},
}};
// clang-format on

QRect pixelRect(int left, int top, int width, int height)
{
    const auto px = [](int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; };
    return QRect(px(left), px(top), px(width), px(height));
}

namespace {

// What each kind of control takes from its row beyond name, place, font and colour.
void setUp(QLineEdit* box, const QString& text, const QCursor&)
{
    box->setText(text);
    box->setMaxLength(std::numeric_limits<int>::max());
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, QColor::fromRgb(kTextBoxBack));
    palette.setColor(QPalette::Text, QColor::fromRgb(kDesktopColour));
    box->setPalette(palette);
}

void setUp(QPushButton* button, const QString& text, const QCursor&)
{
    button->setText(text);
    button->setAutoDefault(false);
    button->setDefault(false);
}

void setUp(Label* label, const QString& text, const QCursor&)
{
    label->setText(text);
}

void setUp(LinkLabel* label, const QString& text, const QCursor& linkCursor)
{
    label->setText(text);
    label->setCursor(linkCursor);
}

void setUp(QWidget*, const QString&, const QCursor&)
{ }

} // namespace

void buildControls(QWidget* parent, Controls& controls, const QCursor& linkCursor)
{
    QWidget* previous = nullptr;
    for (const ControlRow& row : kControlTable) {
        QWidget* control = std::visit(
            [&](auto slot) -> QWidget* {
                using Kind
                    = std::remove_pointer_t<std::remove_reference_t<decltype(controls.*slot)>>;
                auto* widget = new Kind(parent);
                setUp(widget, QString::fromUtf8(row.text), linkCursor);
                controls.*slot = widget;
                return widget;
            },
            row.slot);
        control->setObjectName(QString::fromLatin1(row.name));
        control->setGeometry(pixelRect(row.left, row.top, row.width, row.height));
        control->setFont(row.font == ControlFont::Close ? closeFont() : standardFont());
        if (row.foreColor != 0) {
            QPalette palette = control->palette();
            const bool button = qobject_cast<QPushButton*>(control);
            palette.setColor(button ? QPalette::ButtonText : QPalette::WindowText,
                QColor::fromRgb(row.foreColor));
            control->setPalette(palette);
        }
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

// --- Label ----------------------------------------------------------------------------------

Label::Label(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}

// --- ListBox --------------------------------------------------------------------------------

int EntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_published;
}

QVariant EntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_published)
        return {};
    const QString& text = m_entries.at(index.row());
    if (role == Qt::DisplayRole)
        return text;
    const WatchRecord* record = m_records ? m_records(text) : nullptr;
    if (!record)
        return {};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    switch (role) {
    case MarkerRole:
    case Qt::AccessibleDescriptionRole: {
        const QString marker = markerFor(*record, now).text;
        return marker.isEmpty() ? QVariant() : marker;
    }
    case MarkerColourRole:
        return QColor::fromRgba(markerFor(*record, now).colour);
    case UnseenRole:
        return record->unseen;
    case Qt::ToolTipRole: {
        QStringList lines = describeRecord(text, *record, now);
        if (lines.isEmpty())
            return {};
        for (QString& line : lines)
            line = line.toHtmlEscaped();
        // Rich text on purpose, so that a registrant's name is never taken for markup.
        return QStringLiteral("<qt>") + lines.join(QStringLiteral("<br>"))
            + QStringLiteral("</qt>");
    }
    default:
        return {};
    }
}

void EntryModel::setRecords(Records records)
{
    m_records = std::move(records);
    if (m_published > 0)
        emit dataChanged(index(0), index(m_published - 1));
}

void EntryModel::recordChanged(const QString& text)
{
    for (int row = 0; row < m_published; ++row)
        if (m_entries.at(row) == text)
            emit dataChanged(index(row), index(row));
}

void EntryDelegate::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString marker = index.data(EntryModel::MarkerRole).toString();
    const bool unseen = index.data(EntryModel::UnseenRole).toBool();
    if (marker.isEmpty() && !unseen) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString name = item.text;
    item.text.clear(); // the style draws background, selection and focus; the texts are ours
    const QWidget* widget = item.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    // A row may be wider than the list: the marker goes at the list's right edge.
    QRect visible = item.rect;
    if (const auto* view = qobject_cast<const QAbstractItemView*>(widget))
        visible &= view->viewport()->rect();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = visible.adjusted(margin, 0, -margin, 0);
    const bool selected = item.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
        : item.state & QStyle::State_Active                                  ? QPalette::Normal
                                                                             : QPalette::Inactive;
    const QColor text
        = item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    painter->save();
    int markerWidth = 0;
    if (!marker.isEmpty()) {
        markerWidth = item.fontMetrics.horizontalAdvance(marker + u' ');
        painter->setFont(item.font);
        painter->setPen(selected ? text : index.data(EntryModel::MarkerColourRole).value<QColor>());
        painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter, marker);
    }
    QFont font = item.font;
    if (unseen) {
        font.setBold(true);
        painter->fillRect(QRect(item.rect.left(), item.rect.top() + 1, 2, item.rect.height() - 2),
            QColor::fromRgb(kUnseenBar));
    }
    const QRect nameArea = area.adjusted(0, 0, -markerWidth, 0);
    painter->setFont(font);
    painter->setPen(text);
    painter->drawText(nameArea, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(font).elidedText(name, Qt::ElideRight, nameArea.width()));
    painter->restore();
}

void EntryModel::append(const QString& text)
{
    m_entries.append(text);
    if (!m_publishPending) {
        m_publishPending = true;
        QMetaObject::invokeMethod(this, &EntryModel::publish, Qt::QueuedConnection);
    }
}

void EntryModel::publish()
{
    m_publishPending = false;
    if (m_published == m_entries.size())
        return;
    beginInsertRows({}, m_published, int(m_entries.size()) - 1);
    m_published = int(m_entries.size());
    endInsertRows();
}

void EntryModel::remove(int row)
{
    publish();
    beginRemoveRows({}, row, row);
    m_entries.removeAt(row);
    --m_published;
    endRemoveRows();
}

ListBox::ListBox(QWidget* parent) : QListView(parent), m_entries(new EntryModel(this))
{
    setModel(m_entries);
    setItemDelegate(new EntryDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void ListBox::append(const QString& text)
{
    m_entries->append(text);
}

void ListBox::removeRow(int row)
{
    if (row < 0 || row >= m_entries->size())
        throw std::out_of_range("列表中没有这一项。");
    m_entries->remove(row);
    setSelectedRow(-1);
}

int ListBox::selectedRow() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ListBox::setSelectedRow(int row)
{
    m_entries->publish();
    if (row < 0) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(m_entries->index(row), QItemSelectionModel::ClearAndSelect);
}

QString ListBox::entry(int row) const
{
    return m_entries->entry(row);
}

const QStringList& ListBox::entries() const
{
    return m_entries->entries();
}

void ListBox::setRecords(EntryModel::Records records)
{
    m_entries->setRecords(std::move(records));
    for (int row = 0; row < m_entries->size(); ++row)
        fitMarkedRows(row);
}

void ListBox::recordChanged(const QString& text)
{
    m_entries->recordChanged(text);
    fitMarkedRows(int(m_entries->entries().indexOf(text)));
}

void ListBox::fitMarkedRows(int row)
{
    // Once an entry shows a marker, names are elided before it instead of scrolled to; a list
    // without markers keeps its scroll bar for long names as it always had.
    if (horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff || row < 0)
        return;
    m_entries->publish();
    if (!m_entries->index(row).data(EntryModel::MarkerRole).toString().isEmpty())
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QItemSelectionModel::SelectionFlags ListBox::selectionCommand(
    const QModelIndex& index, const QEvent* event) const
{
    // A list box selects with the left button alone, on the press, and Ctrl does not take the
    // selection away.
    if (event && event->type() == QEvent::MouseButtonRelease)
        return QItemSelectionModel::NoUpdate;
    if (event
        && (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonDblClick
            || event->type() == QEvent::MouseMove)) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        const bool left = event->type() == QEvent::MouseMove
            ? bool(mouse->buttons() & Qt::LeftButton)
            : mouse->button() == Qt::LeftButton;
        if (!left || !index.isValid())
            return QItemSelectionModel::NoUpdate;
        return QItemSelectionModel::ClearAndSelect;
    }
    if (index.isValid() && event && event->type() == QEvent::KeyPress)
        return QItemSelectionModel::ClearAndSelect;
    return QListView::selectionCommand(index, event);
}

void ListBox::mousePressEvent(QMouseEvent* event)
{
    QListView::mousePressEvent(event);
    m_pressedOnEntry
        = event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid();
}

void ListBox::mouseReleaseEvent(QMouseEvent* event)
{
    QListView::mouseReleaseEvent(event);
    const bool click = m_pressedOnEntry && event->button() == Qt::LeftButton
        && indexAt(event->position().toPoint()).isValid() && selectedRow() != -1;
    m_pressedOnEntry = false;
    if (click)
        emit chosen();
}

void ListBox::keyPressEvent(QKeyEvent* event)
{
    const int before = selectedRow();
    QListView::keyPressEvent(event);
    const int after = selectedRow();
    if (after != -1 && after != before)
        emit chosen();
}
