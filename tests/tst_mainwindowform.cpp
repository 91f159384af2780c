#include "app/mainappwindow.h"
#include "service/quakeservice.h"
#include "app/watchplacesdialog.h"
#include "ui_mainappwindow.h"

#include <QComboBox>
#include <QCompleter>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionComboBox>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("^QObject::connect"))); }

    void controlsByNameAndClass_data();
    void controlsByNameAndClass();
    void layouts();
    void texts_data();
    void texts();
    void listsAndSelections();
    void searchButton();
    void tree();
    void acknowledgement();
    void barsAndWindow();
    void objectNameRule();
    void welcomeMessage();
    void noTextIsCut();
    void everyControlOfTheBarsSaysWhatItDoes();

private:
    MainAppWindow *window = nullptr;

public:
    TestMainWindowForm() = default;
    ~TestMainWindowForm() override { delete window; }
    MainAppWindow &win()
    {
        if (!window)
            window = new MainAppWindow;
        return *window;
    }
};

void TestMainWindowForm::controlsByNameAndClass_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::newRow("centralWidget") << "centralWidget" << "QWidget" << "MainAppWindow";
    QTest::newRow("label") << "label" << "QLabel" << "centralWidget";
    QTest::newRow("searchUrlCtrl") << "searchUrlCtrl" << "QLineEdit" << "centralWidget";
    QTest::newRow("magRangeCtrl") << "magRangeCtrl" << "QComboBox" << "centralWidget";
    QTest::newRow("dateRangeCtrl") << "dateRangeCtrl" << "QComboBox" << "centralWidget";
    QTest::newRow("searchCtrl") << "searchCtrl" << "QPushButton" << "centralWidget";
    QTest::newRow("treeWidget") << "treeWidget" << "QTreeWidget" << "centralWidget";
    QTest::newRow("label_2") << "label_2" << "QLabel" << "centralWidget";
    QTest::newRow("menuBar") << "menuBar" << "QMenuBar" << "MainAppWindow";
    QTest::newRow("statusBar") << "statusBar" << "QStatusBar" << "MainAppWindow";
}

void TestMainWindowForm::controlsByNameAndClass()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    const QList<QWidget *> found = win().findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void TestMainWindowForm::layouts()
{
    auto *central = win().findChild<QWidget *>(QStringLiteral("centralWidget"));
    QCOMPARE(win().centralWidget(), central);
    auto *vbox = qobject_cast<QVBoxLayout *>(central->layout());
    QVERIFY(vbox);
    QCOMPARE(vbox->count(), 3);

    auto *searchRow = qobject_cast<QHBoxLayout *>(vbox->itemAt(0)->layout());
    QVERIFY(searchRow);
    const QStringList rowNames = { "label", "searchUrlCtrl", "magRangeCtrl", "dateRangeCtrl", "searchCtrl" };
    QCOMPARE(searchRow->count(), rowNames.size());
    for (int i = 0; i < rowNames.size(); ++i)
        QCOMPARE(searchRow->itemAt(i)->widget()->objectName(), rowNames.at(i));

    QCOMPARE(vbox->itemAt(1)->widget()->objectName(), QStringLiteral("treeWidget"));

    auto *ackRow = qobject_cast<QHBoxLayout *>(vbox->itemAt(2)->layout());
    QVERIFY(ackRow);
    QCOMPARE(ackRow->itemAt(1)->widget()->objectName(), QStringLiteral("label_2"));
}

void TestMainWindowForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    QTest::newRow("label text") << "label" << "text" << "GeoNet Search URL:";
    QTest::newRow("url tool tip") << "searchUrlCtrl" << "toolTip"
                                  << "The GeoNet Quake Web Service URL (Shouldn't change too often..)";
    QTest::newRow("url what's this") << "searchUrlCtrl" << "whatsThis" << "";
    QTest::newRow("url default") << "searchUrlCtrl" << "text"
                                 << "http://127.0.0.1:8470/services/quake/search?";
    QTest::newRow("mag tool tip") << "magRangeCtrl" << "toolTip" << "Magnitude Filter";
    QTest::newRow("date tool tip") << "dateRangeCtrl" << "toolTip" << "Date Range";
    QTest::newRow("search tool tip") << "searchCtrl" << "toolTip" << "Perform Search";
    QTest::newRow("search text") << "searchCtrl" << "text" << QString(QChar(0x2794));
    QTest::newRow("tree tool tip") << "treeWidget" << "toolTip"
                                   << "Earthquake events.\nClick on Reference ID issues an Individual Event Query for the particular quake";
    QTest::newRow("status tool tip") << "statusBar" << "toolTip" << "The statusbar";
}

void TestMainWindowForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, property);
    QFETCH(QString, expected);
    QObject *object = win().findChild<QObject *>(name);
    QVERIFY(object);
    const QVariant value = object->property(property.toLatin1().constData());
    QVERIFY(value.isValid());
    QCOMPARE(value.toString(), expected);
}

void TestMainWindowForm::listsAndSelections()
{
    auto items = [](QComboBox *box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    };
    const QString ge = QString(QChar(0x2265));
    auto *mag = win().findChild<QComboBox *>(QStringLiteral("magRangeCtrl"));
    QCOMPARE(items(mag), QStringList({ "Show " + ge + " Mag 7", "Show " + ge + " Mag 6",
                                       "Show " + ge + " Mag 5", "Show " + ge + " Mag 4",
                                       "Show " + ge + " Mag 3", "Show All" }));
    QCOMPARE(mag->currentIndex(), 4);
    auto *date = win().findChild<QComboBox *>(QStringLiteral("dateRangeCtrl"));
    QCOMPARE(items(date), QStringList({ "Show Last Day", "Show Last Week", "Show Last Month",
                                        "Show Last Year", "Show Last Decade" }));
    QCOMPARE(date->currentIndex(), 0);
}

void TestMainWindowForm::searchButton()
{
    auto *button = win().findChild<QPushButton *>(QStringLiteral("searchCtrl"));
    QVERIFY(button->isDefault());
    QVERIFY(button->isEnabled());
}

void TestMainWindowForm::tree()
{
    auto *tree = win().findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QCOMPARE(tree->columnCount(), 2);
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("Type"));
    QCOMPARE(tree->headerItem()->text(1), QStringLiteral("Value"));
    QCOMPARE(tree->topLevelItemCount(), 0);

    // A column cannot be made narrower than 300 pixels.
    tree->header()->resizeSection(0, 120);
    QCOMPARE(tree->header()->sectionSize(0), 300);
}

void TestMainWindowForm::acknowledgement()
{
    auto *label = win().findChild<QLabel *>(QStringLiteral("label_2"));
    QCOMPARE(label->textFormat(), Qt::RichText);
    QVERIFY(label->wordWrap());
    QVERIFY(!label->openExternalLinks());
    const QString html = label->text();
    QVERIFY(html.contains(QLatin1String("<a href=\"http://www.geonet.org.nz/index.html\">")));

    QTextDocument document;
    document.setHtml(html);
    QCOMPARE(document.blockCount(), 3);
    const QString expected = QStringLiteral(
        "We acknowledge the New Zealand GeoNet project and its sponsors EQC,\n"
        "GNS Science and LINZ, for providing data/images used in this study.\n\nwww.geonet.org.nz");
    QCOMPARE(document.toPlainText(), expected);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        QCOMPARE(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

void TestMainWindowForm::barsAndWindow()
{
    QCOMPARE(win().windowTitle(), QStringLiteral("Harvix 1.1"));
    QCOMPARE(win().objectName(), QStringLiteral("MainAppWindow"));
    // The form's 800 by 500, grown by the map beside the tree and the plots below it.
    QCOMPARE(win().size(), QSize(800 + 560, 500 + 100 + 260));
    auto *bar = win().findChild<QMenuBar *>(QStringLiteral("menuBar"));
    QCOMPARE(win().menuBar(), bar);
    QVERIFY(bar->isDefaultUp());
    auto *status = win().findChild<QStatusBar *>(QStringLiteral("statusBar"));
    QCOMPARE(win().statusBar(), status);
}

void TestMainWindowForm::objectNameRule()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("AlreadyNamed"));
    Ui_MainAppWindow form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("AlreadyNamed"));

    QMainWindow unnamed;
    Ui_MainAppWindow form2;
    form2.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QStringLiteral("MainAppWindow"));
    QCOMPARE(unnamed.size(), QSize(800, 500));
}

void TestMainWindowForm::welcomeMessage()
{
    MainAppWindow fresh;
    const QString message = fresh.statusBar()->currentMessage();
    const QRegularExpression pattern(QStringLiteral(
        "^Welcome to Harvix \\((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4}\\)$"));
    QVERIFY2(pattern.match(message).hasMatch(), qPrintable(message));
    QCOMPARE(message, MainAppWindow::welcomeMessage());

    // It stays: no time-out is running to clear it.
    for (const QTimer *timer : fresh.statusBar()->findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
    QCOMPARE(fresh.statusBar()->currentMessage(), message);
}

void TestMainWindowForm::everyControlOfTheBarsSaysWhatItDoes()
{
    for (const char *name : { "regionBar", "periodBar" }) {
        auto *bar = win().findChild<QToolBar *>(QLatin1String(name));
        QVERIFY(bar);
        int controls = 0;
        for (QWidget *control : bar->findChildren<QWidget *>()) {
            if (!qobject_cast<QComboBox *>(control) && !qobject_cast<QAbstractSpinBox *>(control)
                && !(qobject_cast<QLineEdit *>(control) && !qobject_cast<QAbstractSpinBox *>(control->parent())))
                continue;
            ++controls;
            QVERIFY2(control->toolTip().size() > 20, qPrintable(control->objectName()));
        }
        QVERIFY(controls >= 3);
    }
    // The choices in plain words.
    auto *region = win().findChild<QComboBox *>(QStringLiteral("regionCtrl"));
    QCOMPARE(region->itemText(0), QStringLiteral("Anywhere"));
    auto *period = win().findChild<QComboBox *>(QStringLiteral("periodCtrl"));
    QCOMPARE(period->itemText(0), QStringLiteral("The list's days"));
    QCOMPARE(win().findChild<QSpinBox *>(QStringLiteral("sectionWidthCtrl"))->text(), QStringLiteral("25 km either side"));
    // A place typed is completed New Zealand's first, with or without its macron.
    QCompleter *completer = win().findChild<QLineEdit *>(QStringLiteral("placeCtrl"))->completer();
    for (const auto &[typed, offered] : { std::pair { "Welling", "Wellington, NZ" }, std::pair { "Kaikō", "Kaikoura, NZ" },
                                          std::pair { "hanmer", "Hanmer Springs, NZ" } }) {
        completer->setCompletionPrefix(QString::fromUtf8(typed));
        QCOMPARE(completer->currentCompletion(), QString::fromUtf8(offered));
    }
}

QTEST_MAIN(TestMainWindowForm)
// The region bar's choices and the Watch Places headings are whole on screen.
void TestMainWindowForm::noTextIsCut()
{
    win().show();
    QVERIFY(QTest::qWaitForWindowExposed(&win()));
    auto *kind = win().findChild<QComboBox *>(QStringLiteral("regionCtrl"));
    QStyleOptionComboBox option;
    option.initFrom(kind);
    const QRect field = kind->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, kind);
    for (int i = 0; i < kind->count(); ++i)
        QVERIFY2(kind->fontMetrics().horizontalAdvance(kind->itemText(i)) <= field.width(), qPrintable(kind->itemText(i)));

    WatchPlacesDialog dialog({}, nullptr, &win());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QHeaderView *header = dialog.findChild<QTableWidget *>(QStringLiteral("watchTable"))->horizontalHeader();
    for (int i = 0; i < header->count(); ++i) {
        const QString heading = header->model()->headerData(i, Qt::Horizontal).toString();
        QVERIFY2(header->fontMetrics().horizontalAdvance(heading) < header->sectionSize(i), qPrintable(heading));
    }
}

#include "tst_mainwindowform.moc"
