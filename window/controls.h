#pragma once

#include <array>
#include <variant>

#include <QAbstractListModel>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRect>

class WebBrowser;
class ListBox;
class Label;
class LinkLabel;

constexpr int kTwipsPerPixel = 15;

using TextBox = QLineEdit;
using CommandButton = QPushButton;

// The window's controls, by the names its handlers use.
struct Controls
{
    TextBox* tb_url = nullptr;
    CommandButton* Command1 = nullptr;
    Label* lb_url = nullptr;
    Label* lb_cop = nullptr;
    Label* lb_truename = nullptr;
    Label* lb_mail = nullptr;
    Label* lb_bdate = nullptr;
    Label* lb_edate = nullptr;
    CommandButton* Command2 = nullptr;
    ListBox* List1 = nullptr;
    CommandButton* Command3 = nullptr;
    LinkLabel* Label1 = nullptr;
    LinkLabel* Label2 = nullptr;
    WebBrowser* wb1 = nullptr;
};

// Where a built control goes; its type is the control's kind.
using ControlSlot = std::variant<TextBox * Controls::*, CommandButton * Controls::*,
    Label * Controls::*, LinkLabel * Controls::*, ListBox * Controls::*, WebBrowser * Controls::*>;

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

// A label with a Click event: a left press and release on it.
class LinkLabel : public Label
{
    Q_OBJECT
public:
    using Label::Label;

signals:
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

// The entries of a ListBox. Entries are appended at once but shown to the view in one batch when
// the event loop next runs: a watch list of 100,000 entries is filled in one notification
// instead of 100,000.
class EntryModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QString& text);
    void remove(int row);
    int size() const { return int(m_entries.size()); }
    QString entry(int row) const { return m_entries.value(row); }
    // Tells the view about every entry appended since it was last told.
    void publish();

private:
    QStringList m_entries;
    int m_published = 0;
    bool m_publishPending = false;
};

// A single-selection, unsorted list with the list-box operations the watch list needs. Only the
// left button selects, and modifier keys change nothing. Click is raised when the user selects an
// entry, by mouse or keyboard, never when the program changes the list.
class ListBox : public QListView
{
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

    // Appends text at the end.
    void AddItem(const QString& text);
    // Removes the entry at index; the list has no selection afterwards.
    void RemoveItem(int index);
    // The selected entry's index, -1 when none is selected.
    int ListIndex() const;
    // Selects the entry at index (-1: none) without raising Click.
    void setListIndex(int index);
    // The text of the entry at index, empty when there is none.
    QString List(int index) const;
    // The selected entry's text, empty when none is selected.
    QString Text() const;

signals:
    void Click();

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    EntryModel* m_entries;
    bool m_pressedOnEntry = false;
};
