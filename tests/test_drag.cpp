// Moving the window by its picture and pulling it back onto the screen.
#include <QtTest>

#include "support/formfixture.h"
#include "window/pullback.h"
#include "window/windowmover.h"

class TestDrag : public QObject
{
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
    void leftDragMoves();
    void dropPastRightEdgeIsPulledBack();
    void otherButtonsPullBackOnly_data();
    void otherButtonsPullBackOnly();
    void pressOnControlsDoesNothing();
};

void TestDrag::rule_data()
{
    // Pixels on a 1024 x 768 screen, 15 twips each; -1: left as it is.
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QPoint>("pulled");
    const QSize xga(1024, 768);
    QTest::newRow("on screen") << xga << QPoint(100, 100) << QPoint(-1, -1);
    QTest::newRow("right, a tenth") << xga << QPoint(574, 0) << QPoint(524, -1);
    QTest::newRow("right, less") << xga << QPoint(573, 0) << QPoint(-1, -1);
    QTest::newRow("left, a tenth") << xga << QPoint(-50, 0) << QPoint(0, -1);
    QTest::newRow("left, less") << xga << QPoint(-49, 0) << QPoint(-1, -1);
    QTest::newRow("bottom 415") << xga << QPoint(0, 415) << QPoint(-1, 375);
    QTest::newRow("bottom 414 stays") << xga << QPoint(0, 414) << QPoint(-1, -1);
    QTest::newRow("top -40") << xga << QPoint(0, -40) << QPoint(-1, 0);
    QTest::newRow("top -39 stays") << xga << QPoint(0, -39) << QPoint(-1, -1);
    QTest::newRow("both far edges") << xga << QPoint(900, 700) << QPoint(524, 375);
    QTest::newRow("both near edges") << xga << QPoint(-300, -300) << QPoint(0, 0);
    QTest::newRow("narrow screen: far edge wins")
        << QSize(400, 300) << QPoint(0, 0) << QPoint(-100, -93);
}

void TestDrag::rule()
{
    QFETCH(QSize, screen);
    QFETCH(QPoint, at);
    QFETCH(QPoint, pulled);
    const PullBack pull = pullBackRule(screen.width() * 15.0f, screen.height() * 15.0f,
        at.x() * 15.0f, at.y() * 15.0f, 7500.0f, 5895.0f);
    const auto pixels = [](std::optional<float> twips) { return twips ? *twips / 15.0f : -1.0f; };
    QCOMPARE(pixels(pull.left), float(pulled.x()));
    QCOMPARE(pixels(pull.top), float(pulled.y()));
}

namespace {

// Presses the picture at local point from, drags by delta and lets go.
void drag(Form1& form, QPoint from, QPoint delta)
{
    QTest::mousePress(&form, Qt::LeftButton, {}, from);
    QTest::mouseMove(&form, from + delta);
    QTest::mouseRelease(&form, Qt::LeftButton, {}, from + delta);
}

QRect screenRect()
{
    return QGuiApplication::primaryScreen()->geometry();
}

} // namespace

void TestDrag::leftDragMoves()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    form.move(100, 100);
    QTRY_COMPARE(form.pos(), QPoint(100, 100));
    drag(form, QPoint(250, 20), QPoint(60, 40));
    QTRY_COMPARE(form.pos(), QPoint(160, 140));
    auto* mover = form.findChild<WindowMover*>();
    QVERIFY(!mover->moving());
    qInfo("move used: %s", mover->kind() == WindowMover::Kind::System ? "window system's" : "own");
}

void TestDrag::dropPastRightEdgeIsPulledBack()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    const QRect screen = screenRect();
    form.move(screen.right() - 500, 100);
    QTRY_COMPARE(form.pos().x(), screen.right() - 500);
    drag(form, QPoint(250, 20), QPoint(400, 0)); // 399 px beyond the edge
    QTRY_COMPARE(form.pos(), QPoint(screen.width() - 500, 100));
}

void TestDrag::otherButtonsPullBackOnly_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void TestDrag::otherButtonsPullBackOnly()
{
    QFETCH(Qt::MouseButton, button);
    FormFixture fixture;
    Form1& form = fixture.form();
    form.move(-200, screenRect().height() - 100);
    QTRY_COMPARE(form.pos(), QPoint(-200, screenRect().height() - 100));
    QTest::mousePress(&form, button, {}, QPoint(250, 20));
    QTest::mouseMove(&form, QPoint(300, 60));
    QTest::mouseRelease(&form, button, {}, QPoint(300, 60));
    QTRY_COMPARE(form.pos(), QPoint(0, screenRect().height() - 393));
    // On the screen, nothing moves.
    form.move(50, 60);
    QTRY_COMPARE(form.pos(), QPoint(50, 60));
    QTest::mouseClick(&form, button, {}, QPoint(250, 20));
    QTest::qWait(50);
    QCOMPARE(form.pos(), QPoint(50, 60));
}

void TestDrag::pressOnControlsDoesNothing()
{
    FormFixture fixture;
    Form1& form = fixture.form();
    const QRect screen = screenRect();
    form.move(screen.right() - 450, 100); // over the edge: any pull-back would show
    QTRY_COMPARE(form.pos().x(), screen.right() - 450);
    const QPoint start = form.pos();
    for (QWidget* control : {static_cast<QWidget*>(form.Command3), form.List1->viewport(),
             static_cast<QWidget*>(form.lb_cop)}) {
        QTest::mousePress(control, Qt::RightButton, {}, QPoint(3, 3));
        QTest::mouseRelease(control, Qt::RightButton, {}, QPoint(3, 3));
        QTest::mousePress(control, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(control, QPoint(40, 30));
        QTest::mouseRelease(control, Qt::LeftButton, {}, QPoint(40, 30));
    }
    // The picture at a control's place belongs to the control.
    drag(form, form.lb_cop->geometry().center(), QPoint(30, 30));
    QTest::qWait(50);
    QCOMPARE(form.pos(), start);
}

QTEST_MAIN(TestDrag)
#include "test_drag.moc"
