#include <QMouseEvent>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include "lineeditpath.h"

Q_DECLARE_METATYPE(Qt::MouseButton)

namespace {

// Counts the presses that travel on from a child.
class PressCountingParent : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        ++presses;
        QWidget::mousePressEvent(event);
    }
};

const QString longPath = QStringLiteral("D:/backups/nightly/database/full");

} // namespace

class LineEditPathTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void press_data();
    void press();
    void signalComesBeforeRelease();
    void doubleClickSignalsOnce();
    void disabledFieldSignalsNothing();
    void tabFocusSignalsNothing();

private:
    PressCountingParent *m_parent = nullptr;
    LineEditPath *m_field = nullptr;
    QWidget *m_neighbour = nullptr;
};

void LineEditPathTest::init()
{
    m_parent = new PressCountingParent;
    auto *layout = new QVBoxLayout(m_parent);
    m_neighbour = new QLineEdit(m_parent);
    m_field = new LineEditPath(m_parent);
    layout->addWidget(m_neighbour);
    layout->addWidget(m_field);
    m_field->setReadOnly(true);
    m_field->setText(longPath);
    m_parent->resize(400, 100);
    m_parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
}

void LineEditPathTest::cleanup()
{
    delete m_parent;
    m_parent = nullptr;
}

void LineEditPathTest::press_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("emitted");

    QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers() << 1;
    QTest::newRow("left with Ctrl") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << 1;
    QTest::newRow("left with Shift") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << 1;
    QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers() << 0;
    QTest::newRow("middle") << Qt::MiddleButton << Qt::KeyboardModifiers() << 0;
}

// A press anywhere signals (or not) but never places the cursor, selects,
// or reaches the parent.
void LineEditPathTest::press()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, emitted);

    QSignalSpy spy(m_field, &LineEditPath::mouseLeftButtonClicked);
    const int cursorBefore = m_field->cursorPosition();
    QCOMPARE(cursorBefore, longPath.size());

    const QPoint nearTextStart(4, m_field->height() / 2);
    QTest::mousePress(m_field, button, modifiers, nearTextStart);
    QTest::mouseRelease(m_field, button, modifiers, nearTextStart);

    QCOMPARE(spy.count(), emitted);
    QCOMPARE(m_field->cursorPosition(), cursorBefore);
    QVERIFY(!m_field->hasSelectedText());
    QCOMPARE(m_parent->presses, 0);
}

void LineEditPathTest::signalComesBeforeRelease()
{
    QSignalSpy spy(m_field, &LineEditPath::mouseLeftButtonClicked);
    QTest::mousePress(m_field, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QTest::mouseRelease(m_field, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

void LineEditPathTest::doubleClickSignalsOnce()
{
    // Through the window, so that the toolkit itself turns the second press
    // into the double-click event, as with a real mouse.
    QSignalSpy spy(m_field, &LineEditPath::mouseLeftButtonClicked);
    const QPoint inField = m_field->mapTo(m_parent, m_field->rect().center());
    QTest::mouseDClick(m_parent->windowHandle(), Qt::LeftButton, Qt::KeyboardModifiers(), inField);
    QCOMPARE(spy.count(), 1);
}

void LineEditPathTest::disabledFieldSignalsNothing()
{
    m_field->setEnabled(false);
    QSignalSpy spy(m_field, &LineEditPath::mouseLeftButtonClicked);
    QTest::mouseClick(m_field, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
}

void LineEditPathTest::tabFocusSignalsNothing()
{
    m_neighbour->setFocus();
    QSignalSpy spy(m_field, &LineEditPath::mouseLeftButtonClicked);
    QTest::keyClick(m_neighbour, Qt::Key_Tab);
    QTRY_VERIFY(m_field->hasFocus());
    QCOMPARE(spy.count(), 0);
}

QTEST_MAIN(LineEditPathTest)
#include "lineeditpathtest.moc"
