#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/BrowseFolder.h"
#include "app/MessageBox.h"
#include "common/TempTree.h"

using namespace testing_support;

namespace {

// Runs the action on the first modal dialog of type T that opens, from inside its modal loop.
template <typename T> void WhenModal(std::function<void(T*)> action)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget()); dialog && dialog->isVisible()) {
            poll->stop();
            poll->deleteLater();
            action(dialog);
        }
    });
    poll->start();
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxesAreRealModalBoxes();
    void answererReplacesTheBox();
    void browseFolderShowsAFolderDialog();
};

void DialogsTest::messageBoxesAreRealModalBoxes()
{
    QWidget owner;
    owner.show();
    struct Case
    {
        app::MessageBox::Icon icon;
        QString caption;
        QMessageBox::Icon shownIcon;
        QString shownCaption;
    };
    const Case cases[] = {
        {app::MessageBox::Icon::Stop, QString(), QMessageBox::Critical, QStringLiteral("Zet-Pelta")},
        {app::MessageBox::Icon::Information, QStringLiteral("Migration abgeschlossen"), QMessageBox::Information,
            QStringLiteral("Migration abgeschlossen")},
    };
    for (const Case& c : cases) {
        bool seen = false;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            seen = true;
            QCOMPARE(box->icon(), c.shownIcon);
            QCOMPARE(box->windowTitle(), c.shownCaption);
            QCOMPARE(box->text(), QStringLiteral("<b>IMG 1</b> & Co."));
            QCOMPARE(box->textFormat(), Qt::PlainText); // names are never read as markup
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
            QCOMPARE(box->parentWidget(), &owner);
            box->button(QMessageBox::Ok)->click();
        });
        app::MessageBox::Show(&owner, c.icon, QStringLiteral("<b>IMG 1</b> & Co."), c.caption);
        QVERIFY(seen);
    }
}

void DialogsTest::answererReplacesTheBox()
{
    std::vector<app::MessageBox::Request> requests;
    app::MessageBox::SetAnswerer([&](const app::MessageBox::Request& r) { requests.push_back(r); });
    app::MessageBox::Show(nullptr, app::MessageBox::Icon::Stop, QStringLiteral("Zielordner exestiert nicht."));
    app::MessageBox::SetAnswerer({});
    QCOMPARE(requests.size(), std::size_t {1});
    QCOMPARE(requests[0].caption, QStringLiteral("Zet-Pelta"));
    QCOMPARE(requests[0].text, QStringLiteral("Zielordner exestiert nicht."));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void DialogsTest::browseFolderShowsAFolderDialog()
{
    TempDir root;
    const QString chosen = QString::fromStdString(root / "Ordner mit Leerzeichen ä");
    MakeFolders(chosen.toStdString());
    QWidget owner;
    owner.show();
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));

    // Cancelled: the empty text.
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Wählen Sie Ihren Ordner ..."));
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->parentWidget(), &owner);
        dialog->reject();
    });
    QCOMPARE(app::BrowseFolder(QStringLiteral("Wählen Sie Ihren Ordner ...")), QString());

    // Chosen: the folder's full path, nothing appended.
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->setDirectory(chosen);
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept(); // accept() is public on QDialog
    });
    QCOMPARE(app::BrowseFolder(QStringLiteral("Wählen Sie Ihren Ordner ...")), chosen);
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
