#pragma once

#include <array>

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRect>

#include "window/fonts.h"

class WebBrowser;

constexpr int kTwipsPerPixel = 15;

enum class ControlKind { TextBox, CommandButton, Label, LinkLabel, ListBox, WebBrowser };
enum class ControlFont { Standard, Close };

// One control of the window: geometry in twips, text in UTF-8, a foreground colour or none.
struct ControlSpec
{
    const char* name;
    ControlKind kind;
    const char* text;
    int left, top, width, height;
    QRgb foreColor; // 0: the toolkit's own
    ControlFont font;
};

// Every control of the window, in tab order.
extern const std::array<ControlSpec, 14> kControlTable;

// The pixel rectangle of a twip rectangle, rounded to the nearest pixel.
QRect pixelRect(int left, int top, int width, int height);
inline QRect pixelRect(const ControlSpec& c)
{
    return pixelRect(c.left, c.top, c.width, c.height);
}

// Builds every control of the table on parent, each with its entry's name as object name, and
// chains the focus in table order. The link labels get cursor as their mouse pointer.
void buildControls(QWidget* parent, const QCursor& linkCursor);

using TextBox = QLineEdit;
using CommandButton = QPushButton;

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

// A single-selection, unsorted list with the list-box operations the watch list is written
// against. Click is raised when the user selects an entry, by mouse or keyboard, never when the
// program changes the list.
class ListBox : public QListWidget
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
    // The text of the entry at index.
    QString List(int index) const;
    // The selected entry's text, empty when none is selected.
    QString Text() const;
    int ListCount() const { return count(); }

signals:
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_pressedOnEntry = false;
};
