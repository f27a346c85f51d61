#include "app/dialogs.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <memory>
#include <utility>
#include <vector>

#include "common/errors.h"

// Resources compiled into a static library must be registered by hand.
static void InitCaptionResources() {
    Q_INIT_RESOURCE(captions);
}

namespace quilora {
namespace {

Responder& CurrentResponder() {
    static Responder responder;
    return responder;
}

std::string LoadCaption(const char* resource) {
    InitCaptionResources();
    QFile file(QString::fromLatin1(resource));
    if (!file.open(QIODevice::ReadOnly))
        throw QuiloraError(std::string("missing resource ") + resource);
    return file.readAll().trimmed().toStdString();
}

// A box that places itself in the middle of the screen once it knows its size.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->geometry().center());
            move(frame.topLeft());
        }
    }
};

} // namespace

Responder SetResponder(Responder responder) {
    return std::exchange(CurrentResponder(), std::move(responder));
}

int ShowMessage(const MessageRequest& request) {
    const Responder& responder = CurrentResponder();
    return responder ? responder(request) : ShowMessageBox(request);
}

int ShowMessageBox(const MessageRequest& request) {
    const std::unique_ptr<QMessageBox> owned =
        request.centreOnScreen ? std::make_unique<ScreenCentredBox>()
                               : std::make_unique<QMessageBox>(QApplication::activeWindow());
    QMessageBox& box = *owned;
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(QString::fromStdString(request.caption));
    // Page answers are shown as they came: a refusal wrapped in <script> must
    // not be taken for markup and shown as an empty box.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.text));
    switch (request.flags & kMbIconMask) {
    case kMbIconError:
        box.setIcon(QMessageBox::Critical);
        break;
    case kMbIconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case kMbIconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }

    struct Choice {
        QMessageBox::StandardButton button;
        int answer;
    };
    std::vector<Choice> choices;
    switch (request.flags & kMbButtonMask) {
    case kMbYesNoCancel:
        choices = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
        break;
    case kMbYesNo:
        choices = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
        break;
    default:
        choices = {{QMessageBox::Ok, kIdOk}};
        break;
    }
    std::vector<QPushButton*> buttons;
    for (const Choice& c : choices)
        buttons.push_back(box.addButton(c.button));
    // A default button beyond the last one falls back to the first.
    std::size_t def = (request.flags & kMbDefButtonMask) >> 8;
    if (def >= buttons.size())
        def = 0;
    box.setDefaultButton(buttons[def]);

    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return choices[i].answer;
    // Closed without a button: the escape answer.
    return choices.size() == 1 ? kIdOk : (choices.size() == 3 ? kIdCancel : kIdNo);
}

unsigned HintFlags() {
    return kMbIconInformation | kMbOk;
}

unsigned ConfirmFlags(bool allowCancel, int defaultButton) {
    unsigned flags = kMbIconQuestion | (allowCancel ? kMbYesNoCancel : kMbYesNo);
    switch (defaultButton) {
    case 2:
        flags |= kMbDefButton2;
        break;
    case 3:
        flags |= kMbDefButton3;
        break;
    case 4:
        flags |= kMbDefButton4;
        break;
    default:
        break;
    }
    return flags;
}

std::string HintCaption() {
    return LoadCaption(":/captions/hint");
}
std::string ConfirmCaption() {
    return LoadCaption(":/captions/confirm");
}

void ShowHint(std::string_view text) {
    ShowMessage(MessageRequest{std::string(text), HintCaption(), HintFlags()});
}

void AbortWithHint(std::string_view text) {
    ShowHint(text);
    throw SilentAbort{};
}

int AskConfirm(std::string_view text, bool allowCancel, int defaultButton) {
    return ShowMessage(
        MessageRequest{std::string(text), ConfirmCaption(), ConfirmFlags(allowCancel, defaultButton)});
}

} // namespace quilora
