#include "controls.h"

#include <limits>

#include <QKeyEvent>
#include <QMouseEvent>

#include "window/webbrowser.h"

namespace {

constexpr QRgb kDarkRed = 0xffc00000;
constexpr QRgb kYellow = 0xffffff00;
// The text box keeps the desktop colour for its text (black on current desktops) on white.
constexpr QRgb kDesktopColour = 0xff000000;
constexpr QRgb kTextBoxBack = 0xffffffff;

} // namespace

// clang-format off
const std::array<ControlSpec, 14> kControlTable = {{
    {"tb_url",      ControlKind::TextBox,       "不要输入www.",  1440,  840, 3135,  375, 0,        ControlFont::Standard},
    {"Command1",    ControlKind::CommandButton, "查询",          4800,  840,  855,  375, 0,        ControlFont::Standard},
    {"lb_url",      ControlKind::Label,         "",              1440, 2010, 3255,  255, 0,        ControlFont::Standard},
    {"lb_cop",      ControlKind::Label,         "",              1440, 2880, 3255,  255, 0,        ControlFont::Standard},
    {"lb_truename", ControlKind::Label,         "",              1560, 2440, 3255,  255, 0,        ControlFont::Standard},
    {"lb_mail",     ControlKind::Label,         "",              1440, 3300, 3255,  255, 0,        ControlFont::Standard},
    {"lb_bdate",    ControlKind::Label,         "",              1680, 3780, 3255,  255, 0,        ControlFont::Standard},
    {"lb_edate",    ControlKind::Label,         "",              1680, 4200, 3255,  255, kDarkRed, ControlFont::Standard},
    {"Command2",    ControlKind::CommandButton, "关注",          5880,  840,  855,  375, 0,        ControlFont::Standard},
    {"List1",       ControlKind::ListBox,       "",              5280, 2040, 1800, 2400, 0,        ControlFont::Standard},
    {"Command3",    ControlKind::CommandButton, "删除",          5880, 4560,  615,  255, 0,        ControlFont::Standard},
    {"Label1",      ControlKind::LinkLabel,     "X",             7200,  120,  150,  285, kDarkRed, ControlFont::Close},
    {"Label2",      ControlKind::LinkLabel,     "访问官方网站",  5880,  160, 1080,  180, kYellow,  ControlFont::Standard},
    {"wb1",         ControlKind::WebBrowser,    "",                 0, 5240, 7575,  615, 0,        ControlFont::Standard},
}};
// clang-format on

QRect pixelRect(int left, int top, int width, int height)
{
    const auto px = [](int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; };
    return QRect(px(left), px(top), px(width), px(height));
}

static QWidget* createControl(const ControlSpec& entry, QWidget* parent, const QCursor& linkCursor)
{
    const QString text = QString::fromUtf8(entry.text);
    QWidget* widget = nullptr;
    QPalette::ColorRole textRole = QPalette::WindowText;
    switch (entry.kind) {
    case ControlKind::TextBox: {
        auto* box = new TextBox(text, parent);
        box->setMaxLength(std::numeric_limits<int>::max());
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, QColor::fromRgb(kTextBoxBack));
        palette.setColor(QPalette::Text, QColor::fromRgb(kDesktopColour));
        box->setPalette(palette);
        widget = box;
        break;
    }
    case ControlKind::CommandButton: {
        auto* button = new CommandButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        textRole = QPalette::ButtonText;
        widget = button;
        break;
    }
    case ControlKind::Label:
        widget = new Label(parent);
        static_cast<Label*>(widget)->setText(text);
        break;
    case ControlKind::LinkLabel: {
        auto* label = new LinkLabel(parent);
        label->setText(text);
        label->setCursor(linkCursor);
        widget = label;
        break;
    }
    case ControlKind::ListBox:
        widget = new ListBox(parent);
        break;
    case ControlKind::WebBrowser:
        widget = new WebBrowser(parent);
        break;
    }
    widget->setObjectName(QString::fromLatin1(entry.name));
    widget->setGeometry(pixelRect(entry));
    widget->setFont(entry.font == ControlFont::Close ? closeFont() : standardFont());
    if (entry.foreColor != 0) {
        QPalette palette = widget->palette();
        palette.setColor(textRole, QColor::fromRgb(entry.foreColor));
        widget->setPalette(palette);
    }
    return widget;
}

void buildControls(QWidget* parent, const QCursor& linkCursor)
{
    QWidget* previous = nullptr;
    for (const ControlSpec& entry : kControlTable) {
        QWidget* control = createControl(entry, parent, linkCursor);
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
        emit Click();
}

// --- ListBox --------------------------------------------------------------------------------

int EntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_published;
}

QVariant EntryModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_published)
        return {};
    return m_entries.at(index.row());
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
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void ListBox::AddItem(const QString& text)
{
    m_entries->append(text);
}

void ListBox::RemoveItem(int index)
{
    if (index < 0 || index >= m_entries->size())
        throw std::out_of_range("列表中没有这一项。");
    m_entries->remove(index);
    setListIndex(-1);
}

int ListBox::ListIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ListBox::setListIndex(int index)
{
    m_entries->publish();
    if (index < 0) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(m_entries->index(index), QItemSelectionModel::ClearAndSelect);
}

QString ListBox::List(int index) const
{
    return m_entries->entry(index);
}

QString ListBox::Text() const
{
    return List(ListIndex());
}

QRect ListBox::entryRect(int index)
{
    m_entries->publish();
    return visualRect(m_entries->index(index));
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
        && indexAt(event->position().toPoint()).isValid() && ListIndex() != -1;
    m_pressedOnEntry = false;
    if (click)
        emit Click();
}

void ListBox::keyPressEvent(QKeyEvent* event)
{
    const int before = ListIndex();
    QListView::keyPressEvent(event);
    const int after = ListIndex();
    if (after != -1 && after != before)
        emit Click();
}
