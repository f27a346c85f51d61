#include "app/help_text.h"

namespace quilora {

QStringList HelpLines(const std::string& homeAddress) {
    return {
        QStringLiteral("使用说明"),
        QStringLiteral("本软件是Quilora(") + QString::fromStdString(homeAddress) +
            QStringLiteral(")自动预约助手。"),
        QStringLiteral("排队取号是不是很辛苦？"),
        QStringLiteral("网上预约操作麻烦？？"),
        QStringLiteral("热门医生的号老是抢不到？？？"),
        QStringLiteral("本助手帮你解决所有问题！"),
        QString(),
        QStringLiteral("本助手使用非常简单，按照如下几步即可:"),
        QStringLiteral("1、先进入Quilora,完善个人资料;"),
        QStringLiteral("   强烈建议手动正常预约一个号，可以输入必要的资料(测试成功后可取消)"),
        QStringLiteral("2、登入系统。首次使用时请点击“刷新就诊人”按钮，显示卡内所有就诊人"),
        QStringLiteral("3、选择就诊人、地区、医院、科室及医生，点击“刷新预约状态”"),
        QStringLiteral("   可得出当前医生所有的排班。"),
        QStringLiteral("4、选择想要就诊的医生班次，点“立刻预约”按钮进行预约即可。"),
        QStringLiteral("   A: 如果当前医生班次可以预约（可预约状态且有余号），则直接帮你预约"),
        QStringLiteral("   B: "
                       "若未到预约时间，则弹出提示询问是否自动抢号预约，确认之后，等到到可预约时间即可第一时"
                       "间帮你抢号。"),
        QString(),
        QStringLiteral("祝你健康！"),
        QString(),
        QStringLiteral("Brenvik"),
    };
}

} // namespace quilora
