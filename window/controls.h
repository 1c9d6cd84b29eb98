#pragma once

#include <array>
#include <functional>
#include <variant>

#include <QAbstractListModel>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRect>
#include <QStyledItemDelegate>

class BannerView;
class ListBox;
class Label;
class LinkLabel;
struct WatchRecord;

constexpr int kTwipsPerPixel = 15;

// The window's controls. Their object names (the table's) are what automation and accessibility
// find them by.
struct Controls
{
    QLineEdit* domainBox = nullptr; // tb_url
    QPushButton* queryButton = nullptr; // Command1
    Label* domainLabel = nullptr; // lb_url
    Label* registrarLabel = nullptr; // lb_cop
    Label* registrantLabel = nullptr; // lb_truename
    Label* emailLabel = nullptr; // lb_mail
    Label* createdLabel = nullptr; // lb_bdate
    Label* expiresLabel = nullptr; // lb_edate
    QPushButton* watchButton = nullptr; // Command2
    ListBox* watchList = nullptr; // List1
    QPushButton* deleteButton = nullptr; // Command3
    LinkLabel* closeLabel = nullptr; // Label1
    LinkLabel* siteLabel = nullptr; // Label2
    BannerView* bannerView = nullptr; // wb1
};

// Where a built control goes; its type is the control's kind.
using ControlSlot = std::variant<QLineEdit * Controls::*, QPushButton * Controls::*,
    Label * Controls::*, LinkLabel * Controls::*, ListBox * Controls::*, BannerView * Controls::*>;

enum class ControlFont { Standard, Close };

// One control of the window: geometry in twips, text in UTF-8, a foreground colour or none.
struct ControlRow
{
    ControlSlot slot;
    const char* name;
    const char* text;
    int left, top, width, height;
    QRgb foreColor; // 0: the toolkit's own
    ControlFont font;
};

// Every control of the window, in tab order.
extern const std::array<ControlRow, 14> kControlTable;

// The pixel rectangle of a twip rectangle, rounded to the nearest pixel.
QRect pixelRect(int left, int top, int width, int height);

// Builds every control of the table on parent into controls, each with its row's name as object
// name, and chains the focus in table order. The link labels get linkCursor as mouse pointer.
void buildControls(QWidget* parent, Controls& controls, const QCursor& linkCursor);

// A label that never resizes and shows its caption as plain text only: a whois page may hold
// markup, which must show as its characters.
class Label : public QLabel
{
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr);
};

// A label that is clicked by a left press and release on it.
class LinkLabel : public Label
{
    Q_OBJECT
public:
    using Label::Label;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

// The entries of a ListBox. Entries are appended at once but shown to the view in one batch when
// the event loop next runs: a watch list of 100,000 entries is filled in one notification
// instead of 100,000. An entry's text never changes; what is known of it from watching comes as
// further roles: its marker (also its accessible description), tooltip and unseen changes.
class EntryModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role { MarkerRole = Qt::UserRole + 1, MarkerColourRole, UnseenRole };
    // What is known of an entry's text; null: nothing.
    using Records = std::function<const WatchRecord*(const QString& text)>;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QString& text);
    void remove(int row);
    int size() const { return int(m_entries.size()); }
    QString entry(int row) const { return m_entries.value(row); }
    const QStringList& entries() const { return m_entries; }
    // Tells the view about every entry appended since it was last told.
    void publish();
    void setRecords(Records records);
    // The record of text changed: its entries are shown anew.
    void recordChanged(const QString& text);

private:
    QStringList m_entries;
    int m_published = 0;
    bool m_publishPending = false;
    Records m_records;
};

// Paints an entry as the list always has, and, once the entry has been checked, its marker
// right-aligned in the marker's colour with the name elided before it; an entry with unseen
// changes gets its name in bold and a bar at its left edge.
class EntryDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override;
};

// A single-selection, unsorted list of texts. Only the left button selects, and modifier keys
// change nothing. chosen() is raised when the user selects an entry, by mouse or keyboard, never
// when the program changes the list.
class ListBox : public QListView
{
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

    // Appends text at the end.
    void append(const QString& text);
    // Removes the entry at row; the list has no selection afterwards.
    void removeRow(int row);
    // The selected entry's row, -1 when none is selected.
    int selectedRow() const;
    // Selects the entry at row (-1: none) without raising chosen().
    void setSelectedRow(int row);
    // The text of the entry at row, empty when there is none.
    QString entry(int row) const;
    const QStringList& entries() const;
    void setRecords(EntryModel::Records records);
    void recordChanged(const QString& text);

signals:
    void chosen();

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitMarkedRows(int row);

    EntryModel* m_entries;
    bool m_pressedOnEntry = false;
};
