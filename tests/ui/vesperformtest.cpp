#include <QBoxLayout>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTimeEdit>
#include <QToolBar>
#include <QtTest>

#include "lineeditpath.h"
#include "vesper.h"

Q_DECLARE_METATYPE(QMargins)

using Policy = QSizePolicy::Policy;

namespace {

const QSize unlimited(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
const QString yahei = QStringLiteral("微软雅黑");

// Spacers have no object name; they show as this token in item lists.
const QString spacerToken = QStringLiteral("<spacer>");

QString itemName(QLayoutItem *item)
{
    if (item->widget())
        return item->widget()->objectName();
    if (item->layout())
        return item->layout()->objectName();
    return item->spacerItem() ? spacerToken : QStringLiteral("<other>");
}

// -1 leaves a side to the style on a layout that sits on a widget, and to
// nothing on a nested one.
QMargins resolvedMargins(const QLayout *layout, const QMargins &set)
{
    const QWidget *owner = layout->parentWidget();
    const bool onWidget = owner && owner->layout() == layout;
    auto side = [&](int value, QStyle::PixelMetric metric) {
        if (value >= 0)
            return value;
        return onWidget ? owner->style()->pixelMetric(metric, nullptr, owner) : 0;
    };
    return QMargins(side(set.left(), QStyle::PM_LayoutLeftMargin),
                    side(set.top(), QStyle::PM_LayoutTopMargin),
                    side(set.right(), QStyle::PM_LayoutRightMargin),
                    side(set.bottom(), QStyle::PM_LayoutBottomMargin));
}

} // namespace

class VesperFormTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void properties_data();
    void properties();
    void layouts_data();
    void layouts();
    void spacers_data();
    void spacers();

    void creationOrder();
    void focusOrder();
    void windowSize();
    void objectName_data();
    void objectName();
    void bannerHeight();
    void unattendedGroupWidth_data();
    void unattendedGroupWidth();
    void pathFieldsIgnoreTyping();
    void images();

private:
    template<typename T = QWidget>
    T *child(const QString &name) const { return m_window->findChild<T *>(name); }

    Vesper *m_window = nullptr;
};

void VesperFormTest::init()
{
    m_window = new Vesper;
}

void VesperFormTest::cleanup()
{
    QLocale::setDefault(QLocale::system());
    delete m_window;
    m_window = nullptr;
}

void VesperFormTest::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    QTest::addColumn<Policy>("horizontal");
    QTest::addColumn<Policy>("vertical");
    QTest::addColumn<QString>("family"); // empty: none set
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");

    const QSize none(0, 0);
    const int defaultPoints = QFont().pointSize();
    const int normal = QFont::Normal;
    const Policy P = QSizePolicy::Preferred, M = QSizePolicy::Minimum,
                 F = QSizePolicy::Fixed, E = QSizePolicy::Expanding;

    QTest::newRow("centralWidget") << "centralWidget" << QByteArray("QWidget") << "VesperClass"
                                   << none << unlimited << P << P << "" << defaultPoints << normal;
    QTest::newRow("label") << "label" << QByteArray("QLabel") << "centralWidget"
                           << QSize(1059, 36) << QSize(1920, 35) << M << P << "" << defaultPoints << normal;
    QTest::newRow("groupBox_2") << "groupBox_2" << QByteArray("QGroupBox") << "centralWidget"
                                << none << unlimited << P << P << yahei << 10 << normal;
    QTest::newRow("lePath") << "lePath" << QByteArray("LineEditPath") << "groupBox_2"
                            << QSize(0, 30) << unlimited << E << F << "" << 10 << normal;
    QTest::newRow("btnRightNowStart") << "btnRightNowStart" << QByteArray("QPushButton") << "groupBox_2"
                                      << QSize(88, 29) << unlimited << M << F << yahei << 10 << normal;
    QTest::newRow("groupBox_4") << "groupBox_4" << QByteArray("QGroupBox") << "centralWidget"
                                << none << unlimited << P << P << yahei << 10 << normal;
    QTest::newRow("leOutputPath") << "leOutputPath" << QByteArray("LineEditPath") << "groupBox_4"
                                  << QSize(0, 30) << unlimited << M << F << "" << 10 << normal;
    QTest::newRow("groupBox_3") << "groupBox_3" << QByteArray("QGroupBox") << "centralWidget"
                                << none << QSize(350, QWIDGETSIZE_MAX) << P << P << yahei << 10 << normal;
    QTest::newRow("label_5") << "label_5" << QByteArray("QLabel") << "groupBox_3"
                             << QSize(0, 28) << unlimited << P << P << yahei << 10 << 50;
    QTest::newRow("timeEdit") << "timeEdit" << QByteArray("QTimeEdit") << "groupBox_3"
                              << QSize(80, 28) << unlimited << M << F << yahei << 11 << 50;
    QTest::newRow("label_4") << "label_4" << QByteArray("QLabel") << "groupBox_3"
                             << QSize(0, 28) << unlimited << P << P << yahei << 10 << 50;
    QTest::newRow("btnStart") << "btnStart" << QByteArray("QPushButton") << "groupBox_3"
                              << QSize(85, 32) << unlimited << M << F << yahei << 10 << normal;
    QTest::newRow("groupBox") << "groupBox" << QByteArray("QGroupBox") << "centralWidget"
                              << none << unlimited << P << P << yahei << 10 << normal;
    QTest::newRow("listWidget") << "listWidget" << QByteArray("MonitorList") << "groupBox"
                                << none << unlimited << E << E << "" << 10 << normal;
}

void VesperFormTest::widgets()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QString, parentName);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    QFETCH(Policy, horizontal);
    QFETCH(Policy, vertical);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);

    QWidget *widget = child(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QByteArray(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->minimumSize(), minimum);
    QCOMPARE(widget->maximumSize(), maximum);
    QCOMPARE(widget->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(widget->sizePolicy().verticalPolicy(), vertical);
    QCOMPARE(widget->sizePolicy().horizontalStretch(), 0);
    QCOMPARE(widget->sizePolicy().verticalStretch(), 0);

    const QFont font = widget->font();
    // A font without a family takes the parent's.
    QCOMPARE(font.family(), family.isEmpty() ? widget->parentWidget()->font().family() : family);
    QCOMPARE(font.pointSize(), pointSize);
    QCOMPARE(font.weight(), weight);
    QVERIFY(!font.bold());
    QVERIFY(font.kerning());
}

void VesperFormTest::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("expected");

    auto row = [](const char *name, const char *property, const QVariant &expected) {
        QTest::addRow("%s.%s", name, property) << QString::fromLatin1(name) << QByteArray(property) << expected;
    };
    const int leftToRight = Qt::LeftToRight, rightToLeft = Qt::RightToLeft;

    row("VesperClass", "windowTitle", QStringLiteral("Halcyon压缩"));
    row("centralWidget", "layoutDirection", leftToRight);
    row("label", "text", QString());
    row("label", "scaledContents", true);
    row("groupBox_2", "title", QStringLiteral("任务立即执行"));
    row("lePath", "placeholderText", QStringLiteral("点击此处选择需要执行任务的目录"));
    row("lePath", "text", QString());
    row("lePath", "readOnly", true);
    row("lePath", "layoutDirection", leftToRight);
    row("lePath", "alignment", int(Qt::AlignLeft | Qt::AlignVCenter));
    row("lePath", "cursorMoveStyle", int(Qt::LogicalMoveStyle));
    row("btnRightNowStart", "text", QStringLiteral("立即执行"));
    row("groupBox_4", "title", QStringLiteral("压缩文件输出路径"));
    row("leOutputPath", "placeholderText", QStringLiteral("点击此处选择输出压缩文件的目录"));
    row("leOutputPath", "text", QString());
    row("leOutputPath", "readOnly", true);
    row("groupBox_3", "title", QStringLiteral("无人值守"));
    row("label_5", "text", QStringLiteral("每天"));
    row("timeEdit", "time", QTime(8, 0, 0, 0));
    row("timeEdit", "layoutDirection", rightToLeft);
    row("timeEdit", "alignment", int(Qt::AlignCenter));
    row("label_4", "text", QStringLiteral("执行任务"));
    row("label_4", "margin", 5);
    row("btnStart", "text", QStringLiteral("  开启"));
    row("btnStart", "iconSize", QSize(30, 30));
    row("btnStart", "checkable", false);
    row("btnStart", "checked", false);
    row("btnStart", "autoRepeat", false);
    row("btnStart", "autoDefault", false);
    row("btnStart", "flat", false);
    row("groupBox", "title", QStringLiteral("监控窗口"));
    row("listWidget", "count", 0);
}

void VesperFormTest::properties()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, expected);

    QObject *object = name == m_window->objectName() ? m_window : child<QObject>(name);
    QVERIFY2(object, qPrintable(name));
    QVariant actual = object->property(property);
    QVERIFY2(actual.isValid(), property.constData());
    // Enumerations and flags come back as their own types; compare their values.
    if (expected.userType() == QMetaType::Int)
        actual = actual.value<int>();
    QCOMPARE(actual, expected);
}

void VesperFormTest::layouts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("owner"); // widget it is installed on, or layout it sits in
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QMargins>("margins"); // as set, -1 leaves a side alone
    QTest::addColumn<QStringList>("items");

    const QString s = spacerToken;
    const QMargins unset(-1, -1, -1, -1);

    QTest::newRow("gridLayout") << "gridLayout" << QByteArray("QGridLayout") << "centralWidget" << 0
                                << QMargins(0, 0, 0, 6) << QStringList{"verticalLayout_4"};
    QTest::newRow("verticalLayout_4") << "verticalLayout_4" << QByteArray("QVBoxLayout") << "gridLayout" << 5
                                      << unset
                                      << QStringList{"label", "horizontalLayout", "horizontalLayout_3", "horizontalLayout_5"};
    QTest::newRow("horizontalLayout") << "horizontalLayout" << QByteArray("QHBoxLayout") << "verticalLayout_4" << 6
                                      << unset << QStringList{s, "groupBox_2", s};
    QTest::newRow("horizontalLayout_7") << "horizontalLayout_7" << QByteArray("QHBoxLayout") << "groupBox_2" << 6
                                        << QMargins(-1, 11, -1, 7) << QStringList{"horizontalLayout_6"};
    QTest::newRow("horizontalLayout_6") << "horizontalLayout_6" << QByteArray("QHBoxLayout") << "horizontalLayout_7" << 6
                                        << unset << QStringList{"lePath", "btnRightNowStart"};
    QTest::newRow("horizontalLayout_3") << "horizontalLayout_3" << QByteArray("QHBoxLayout") << "verticalLayout_4" << 6
                                        << unset << QStringList{s, "groupBox_4", "groupBox_3", s};
    QTest::newRow("verticalLayout") << "verticalLayout" << QByteArray("QVBoxLayout") << "groupBox_4" << 6
                                    << QMargins(11, 11, 11, 11) << QStringList{"leOutputPath"};
    QTest::newRow("verticalLayout_2") << "verticalLayout_2" << QByteArray("QVBoxLayout") << "groupBox_3" << 6
                                      << QMargins(-1, 11, -1, 7) << QStringList{"horizontalLayout_2"};
    QTest::newRow("horizontalLayout_2") << "horizontalLayout_2" << QByteArray("QHBoxLayout") << "verticalLayout_2" << 0
                                        << QMargins(0, -1, -1, -1)
                                        << QStringList{s, "label_5", "timeEdit", s, "label_4", "btnStart", s};
    QTest::newRow("horizontalLayout_5") << "horizontalLayout_5" << QByteArray("QHBoxLayout") << "verticalLayout_4" << 6
                                        << unset << QStringList{s, "groupBox", s};
    QTest::newRow("verticalLayout_3") << "verticalLayout_3" << QByteArray("QVBoxLayout") << "groupBox" << 6
                                      << QMargins(-1, 12, -1, 8) << QStringList{"listWidget"};
}

void VesperFormTest::layouts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QString, owner);
    QFETCH(int, spacing);
    QFETCH(QMargins, margins);
    QFETCH(QStringList, items);

    QLayout *layout = child<QLayout>(name);
    QVERIFY2(layout, qPrintable(name));
    QCOMPARE(QByteArray(layout->metaObject()->className()), className);
    QCOMPARE(layout->parent()->objectName(), owner);
    if (auto *ownerWidget = qobject_cast<QWidget *>(layout->parent()))
        QCOMPARE(ownerWidget->layout(), layout);
    QCOMPARE(layout->spacing(), spacing);
    QCOMPARE(layout->contentsMargins(), resolvedMargins(layout, margins));

    QStringList actualItems;
    for (int i = 0; i < layout->count(); ++i) {
        actualItems << itemName(layout->itemAt(i));
        QCOMPARE(layout->itemAt(i)->alignment(), Qt::Alignment());
        if (auto *box = qobject_cast<QBoxLayout *>(layout))
            QCOMPARE(box->stretch(i), 0);
    }
    QCOMPARE(actualItems, items);
}

void VesperFormTest::spacers_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("position"); // from 0
    QTest::addColumn<QSize>("sizeHint");
    QTest::addColumn<Policy>("horizontal");

    const Policy M = QSizePolicy::Minimum, F = QSizePolicy::Fixed;
    QTest::newRow("horizontalSpacer") << "horizontalLayout" << 0 << QSize(13, 20) << M;
    QTest::newRow("horizontalSpacer_2") << "horizontalLayout" << 2 << QSize(13, 20) << M;
    QTest::newRow("horizontalSpacer_3") << "horizontalLayout_3" << 0 << QSize(13, 20) << F;
    QTest::newRow("horizontalSpacer_4") << "horizontalLayout_2" << 0 << QSize(15, 20) << F;
    QTest::newRow("horizontalSpacer_5") << "horizontalLayout_2" << 3 << QSize(40, 20) << M;
    QTest::newRow("horizontalSpacer_6") << "horizontalLayout_2" << 6 << QSize(20, 20) << F;
    QTest::newRow("horizontalSpacer_7") << "horizontalLayout_3" << 3 << QSize(13, 20) << F;
    QTest::newRow("horizontalSpacer_8") << "horizontalLayout_5" << 0 << QSize(13, 20) << M;
    QTest::newRow("horizontalSpacer_9") << "horizontalLayout_5" << 2 << QSize(13, 17) << M;
}

void VesperFormTest::spacers()
{
    QFETCH(QString, layout);
    QFETCH(int, position);
    QFETCH(QSize, sizeHint);
    QFETCH(Policy, horizontal);

    QLayout *owner = child<QLayout>(layout);
    QVERIFY(owner);
    QSpacerItem *spacer = owner->itemAt(position)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), sizeHint);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(spacer->expandingDirections(), Qt::Orientations());
}

// Children are listed in the order they were created.
void VesperFormTest::creationOrder()
{
    const QStringList expected{
        "centralWidget", "label", "groupBox_2", "lePath", "btnRightNowStart",
        "groupBox_4", "leOutputPath", "groupBox_3", "label_5", "timeEdit",
        "label_4", "btnStart", "groupBox", "listWidget"};
    QStringList actual;
    for (QWidget *widget : m_window->findChildren<QWidget *>()) {
        if (expected.contains(widget->objectName()))
            actual << widget->objectName();
    }
    QCOMPARE(actual, expected);
    QVERIFY(!m_window->menuWidget());
    QVERIFY(!m_window->findChild<QStatusBar *>());
    QVERIFY(!m_window->findChild<QToolBar *>());
    QCOMPARE(m_window->centralWidget(), child(QStringLiteral("centralWidget")));
}

void VesperFormTest::focusOrder()
{
    const QStringList expected{"lePath", "btnRightNowStart", "leOutputPath",
                               "timeEdit", "btnStart", "listWidget"};
    QStringList actual;
    for (QWidget *w = m_window->nextInFocusChain(); w != m_window; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && expected.contains(w->objectName()))
            actual << w->objectName();
    }
    QCOMPARE(actual, expected);
}

void VesperFormTest::windowSize()
{
    QCOMPARE(m_window->size(), QSize(1200, 690));
    QCOMPARE(m_window->minimumSize(), QSize(1200, 690));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->resize(800, 400);
    QCOMPARE(m_window->size(), QSize(1200, 690));
}

void VesperFormTest::objectName_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unnamed") << QString() << "VesperClass";
    QTest::newRow("named") << "mainWindow" << "mainWindow";
}

void VesperFormTest::objectName()
{
    QFETCH(QString, preset);
    QFETCH(QString, expected);

    QMainWindow window;
    window.setObjectName(preset);
    Ui::VesperClass form;
    form.setupUi(&window);
    QCOMPARE(window.objectName(), expected);
    QCOMPARE(m_window->objectName(), QStringLiteral("VesperClass"));
}

// The banner keeps its 36-pixel minimum although its maximum is 35.
void VesperFormTest::bannerHeight()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto *banner = child<QLabel>(QStringLiteral("label"));
    QCOMPARE(banner->minimumHeight(), 36);
    QCOMPARE(banner->maximumHeight(), 35);
    QCOMPARE(banner->height(), 36);
}

void VesperFormTest::unattendedGroupWidth_data()
{
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("time"); // as the time edit shows it, whole
    QTest::newRow("1200") << 1200 << "C" << "08:00";
    QTest::newRow("1600") << 1600 << "C" << "08:00";
    QTest::newRow("1900") << 1900 << "C" << "08:00";
    QTest::newRow("1200, own format") << 1200 << "ja_JP" << "8:00";
    QTest::newRow("1200, AM/PM too wide") << 1200 << "en_US" << "08:00";
}

void VesperFormTest::unattendedGroupWidth()
{
    QFETCH(int, windowWidth);
    QFETCH(QString, locale);
    QFETCH(QString, time);
    cleanup();
    QLocale::setDefault(QLocale(locale));
    init();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->resize(windowWidth, 800);
    QTRY_COMPARE(m_window->width(), windowWidth);
    QApplication::processEvents();

    auto *unattended = child(QStringLiteral("groupBox_3"));
    auto *output = child(QStringLiteral("groupBox_4"));
    QVERIFY(unattended->width() <= 350);
    // The output group takes the rest of the band.
    QVERIFY(output->width() > windowWidth - 350 - 100);
    if (QFontDatabase().families().isEmpty())
        QSKIP("no font to measure the time with (Qt's offscreen platform under Wine)");
    QCOMPARE(child<QTimeEdit>(QStringLiteral("timeEdit"))->text(), time);
}

void VesperFormTest::pathFieldsIgnoreTyping()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    for (const char *name : {"lePath", "leOutputPath"}) {
        auto *field = child<QLineEdit>(QString::fromLatin1(name));
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("C:/typed"));
        QVERIFY2(field->text().isEmpty(), name);
    }
}

void VesperFormTest::images()
{
    auto *banner = child<QLabel>(QStringLiteral("label"));
    QCOMPARE(banner->pixmap(Qt::ReturnByValue).size(), QSize(1920, 36));

    auto *start = child<QPushButton>(QStringLiteral("btnStart"));
    QVERIFY(!start->icon().isNull());
    const QImage expected = QImage(QStringLiteral(":/Vesper/Resources/start.png"))
                                .convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!expected.isNull());
    QCOMPARE(start->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32), expected);

    QVERIFY(child<QPushButton>(QStringLiteral("btnRightNowStart"))->icon().isNull());
}

QTEST_MAIN(VesperFormTest)
#include "vesperformtest.moc"
