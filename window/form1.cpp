#include "form1.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "query/cut.h"
#include "window/fonts.h"
#include "window/webbrowser.h"
#include "window/windowmover.h"

namespace {

// The window's own colour shows only in the strip below the banner; it continues the ground.
constexpr QRgb kWindowColour = 0xff0f375d;
constexpr int kFormWidth = 7500;
constexpr int kFormHeight = 5895;
// The fingertip of the hand in hand.png.
constexpr int kLinkCursorHotX = 10;
constexpr int kLinkCursorHotY = 1;

} // namespace

QString Form1Services::defaultProgramDir()
{
    return QCoreApplication::applicationDirPath();
}

bool Form1Services::defaultOpenBrowser(const QString& url)
{
    return QDesktopServices::openUrl(QUrl(url));
}

void Form1Services::defaultReportError(QWidget* window, const QString& message)
{
    QMessageBox::critical(window, QStringLiteral("域名查询"), message);
}

Form1::Form1(Form1Services services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_services(std::move(services))
    , m_picture(QStringLiteral(":/assets/background.jpg"))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString());
    setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
    setFixedSize(pixelRect(0, 0, kFormWidth, kFormHeight).size());
    setFont(standardFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kWindowColour));
    setPalette(palette);
    setAutoFillBackground(true);

    buildControls(this, *this,
        QCursor(QPixmap(QStringLiteral(":/assets/hand.png")), kLinkCursorHotX, kLinkCursorHotY));

    connect(this, &Form1::firstPainted, wb1, &WebBrowser::startLoading, Qt::QueuedConnection);
    wb1->setLinkOpener([this](const QUrl& link) {
        try {
            OpenSite(link.toString());
        } catch (const std::exception& error) {
            reportError(error);
        }
    });

    m_mover = new WindowMover(this);
    connect(m_mover, &WindowMover::finished, this, &Form1::pullBackOntoScreen);

    handle(Command1, &QPushButton::clicked, &Form1::Command1_Click);
    handle(Command2, &QPushButton::clicked, &Form1::Command2_Click);
    handle(Command3, &QPushButton::clicked, &Form1::Command3_Click);
    handle(List1, &ListBox::Click, &Form1::List1_Click);
    handle(Label1, &LinkLabel::Click, &Form1::Label1_Click);
    handle(Label2, &LinkLabel::Click, &Form1::Label2_Click);
}

Form1::~Form1() = default;

template <class Signal, class Sender>
void Form1::handle(Sender* sender, Signal signal, void (Form1::*handler)())
{
    connect(sender, signal, this, [this, handler] {
        try {
            (this->*handler)();
        } catch (const std::exception& error) {
            reportError(error);
        }
    });
}

void Form1::reportError(const std::exception& error)
{
    m_services.reportError(isVisible() ? this : nullptr, QString::fromUtf8(error.what()));
}

void Form1::Form_Load()
{
    wb1->Navigate(m_services.sites.banner);
    LoadWatchList();
}

void Form1::Label1_Click()
{
    close();
    QCoreApplication::quit();
}

void Form1::Label2_Click()
{
    OpenSite(m_services.sites.home);
}

void Form1::OpenSite(QString sURL)
{
    const QString url = sURL;
    if (!m_services.openBrowser(url))
        throw std::runtime_error(
            (QStringLiteral("无法打开浏览器访问 ") + url + QStringLiteral("。")).toStdString());
}

QString Form1::strCut(const QString& strContent, const QString& StrStart, const QString& StrEnd)
{
    return ::strCut(strContent, StrStart, StrEnd);
}

void Form1::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
    if (!m_painted) {
        m_painted = true;
        emit firstPainted();
    }
}

void Form1::mousePressEvent(QMouseEvent* event)
{
    // Presses a control did not take still arrive here; only the bare picture moves the window.
    if (childAt(event->position().toPoint())) {
        event->ignore();
        return;
    }
    event->accept();
    int button = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        button = 1;
        break;
    case Qt::RightButton:
        button = 2;
        break;
    case Qt::MiddleButton:
        button = 4;
        break;
    default:
        return;
    }
    int shift = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        shift |= 1;
    if (event->modifiers() & Qt::ControlModifier)
        shift |= 2;
    if (event->modifiers() & Qt::AltModifier)
        shift |= 4;
    const QPointF at = event->position() * kTwipsPerPixel;
    Form_MouseDown(button, shift, float(at.x()), float(at.y()));
}
