#include "form1.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QUrl>

#include "window/bannerview.h"
#include "window/fonts.h"
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

    // The banner is fetched once the window has painted.
    connect(
        this, &Form1::firstPainted, this,
        [this] {
            bannerView->startLoading(network());
            startWatching();
        },
        Qt::QueuedConnection);
    bannerView->setLinkOpener([this](const QUrl& link) {
        try {
            openSite(link.toString());
        } catch (const std::exception& error) {
            reportError(error);
        }
    });

    m_mover = new WindowMover(this);
    connect(m_mover, &WindowMover::finished, this, &Form1::pullBackOntoScreen);

    handle(queryButton, &QPushButton::clicked, &Form1::queryButtonClicked);
    handle(watchButton, &QPushButton::clicked, &Form1::watchButtonClicked);
    handle(deleteButton, &QPushButton::clicked, &Form1::deleteButtonClicked);
    handle(watchList, &ListBox::chosen, &Form1::watchListChosen);
    handle(closeLabel, &LinkLabel::clicked, &Form1::closeLabelClicked);
    handle(siteLabel, &LinkLabel::clicked, &Form1::siteLabelClicked);
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

void Form1::load()
{
    bannerView->setAddress(m_services.sites.banner);
    loadWatchList();
}

QNetworkAccessManager& Form1::network()
{
    // Made on first use, after the first paint: the window shows without waiting for it.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return *m_network;
}

void Form1::closeLabelClicked()
{
    close();
    QCoreApplication::quit();
}

void Form1::siteLabelClicked()
{
    openSite(m_services.sites.home);
}

void Form1::openSite(const QString& url)
{
    if (!m_services.openBrowser(url))
        throw std::runtime_error(
            (QStringLiteral("无法打开浏览器访问 ") + url + QStringLiteral("。")).toStdString());
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
    switch (event->button()) {
    case Qt::LeftButton:
        // The pull-back follows once the window has been dropped (see the constructor).
        m_mover->start(event->globalPosition().toPoint());
        break;
    case Qt::RightButton:
    case Qt::MiddleButton:
        pullBackOntoScreen();
        break;
    default:
        break;
    }
}
