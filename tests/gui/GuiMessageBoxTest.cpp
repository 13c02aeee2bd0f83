#include "GuiMessageBox.h"

#include "MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct SeenBox {
    bool found = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
};

// Watches for the modal box, notes what it shows and presses OK. Gives up after ten seconds by closing
// whatever modal widget is up, so a broken box fails the test instead of hanging it.
class OkPresser : public QObject {
public:
    OkPresser() {
        clock_.start();
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(20);
    }
    SeenBox seen;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->isVisible()) {
            seen = SeenBox{true, box->windowTitle(), box->text(), box->standardButtons(), box->isModal()};
            timer_.stop();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        } else if (clock_.elapsed() > 10000) {
            timer_.stop();
            if (modal)
                modal->close();
        }
    }
    QTimer timer_;
    QElapsedTimer clock_;
};

} // namespace

TEST(GuiMessageBoxTest, ShowsAModalBoxUntilOkIsPressed) {
    GuiMessageBoxService service;
    MessageBoxService* previous = MessageBox::install(&service);
    OkPresser presser;
    const QString text = QStringLiteral("이미 실행중입니다.");
    MessageBox::show(text);
    MessageBox::install(previous);

    ASSERT_TRUE(presser.seen.found) << "no message box came up";
    EXPECT_EQ(presser.seen.title, QStringLiteral("ClientZEP_job"));
    EXPECT_EQ(presser.seen.text, text);
    EXPECT_EQ(presser.seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(presser.seen.modal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box is gone once OK is pressed";
}
