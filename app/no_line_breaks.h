#pragma once
// Drops line breaks as they are typed or pasted: Config.ini holds one value a
// line, and a pasted line break must not become a setting of its own.
#include <QValidator>

namespace quilora {

class NoLineBreaks : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            if (input[i] != QLatin1Char('\n') && input[i] != QLatin1Char('\r'))
                continue;
            input.remove(i, 1);
            if (i < pos)
                --pos;
        }
        return Acceptable;
    }
};

} // namespace quilora
