// Sign-in and the account's patients.
#include <QLineEdit>

#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/tmain.h"

namespace quilora {

void TMain::btnLoginClick() {
    SaveSettings();
    signingInAs_ = edtUserID->text().toStdString();
    StartWait(JobKind::SignIn, Worker().SignIn(signingInAs_, edtPasswd->text().toStdString()));
}

void TMain::SignInDone(const JobOutcome& out) {
    if (!out.signedIn) {
        ShowHint("登录失败");
        return;
    }
    ActivatePage(1);
    loginCardNo = signingInAs_;
    LoadPatients();
    ResumeWatchAfterSignIn();
}

void TMain::LoadPatients(bool mayFetch) {
    rgpUser->Clear();
    for (const PatientEntry& p : CachedPatients(qryTmp, loginCardNo))
        rgpUser->AddItem(p.name, p.cardNo);
    if (rgpUser->Count() > 0)
        rgpUser->SetItemIndex(0);
    else if (mayFetch)
        btnGetUserClick();
}

void TMain::btnGetUserClick() {
    if (loginCardNo.empty())
        return;
    StartWait(JobKind::Patients, Worker().FetchPatients());
}

void TMain::PatientsDone(const JobOutcome& out) {
    // The cache is replaced only once the page is in: a fetch that gives up keeps it.
    ReplaceCachedPatients(ADOC, cmd, loginCardNo, out.patients);
    // Never fetches again: an account without patients would otherwise fetch without end.
    LoadPatients(false);
}

} // namespace quilora
