// Sign-in and the account's patients.
#include <QLineEdit>

#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/tmain.h"

namespace quilora {

void TMain::btnLoginClick() {
    SaveSettings();
    const std::string cardNo = edtUserID->text().toStdString();
    if (!Session().SignIn(cardNo, edtPasswd->text().toStdString())) {
        ShowHint("登录失败");
        return;
    }
    ActivatePage(1);
    loginCardNo = cardNo;
    LoadPatients();
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
    // The cache is replaced only once the page is in: a fetch that gives up keeps it.
    const std::vector<PatientRecord> patients = Session().Patients();
    ReplaceCachedPatients(ADOC, cmd, loginCardNo, patients);
    // Never fetches again: an account without patients would otherwise fetch without end.
    LoadPatients(false);
}

} // namespace quilora
