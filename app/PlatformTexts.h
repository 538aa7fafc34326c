#pragma once
// The Linux wording of the few texts that name the other platform's places (its settings app, its
// version, "the Mac", its location-services gate). The texts stay the lookup keys everywhere else;
// this table is installed as a translator, so `L` finds the Linux sentence for exactly these keys
// and the key itself for every other text.

#include <QTranslator>

#include <string_view>
#include <vector>

namespace pv {

struct PlatformText {
    std::string_view key;   // the text as the sources look it up
    std::string_view linuxText; // what a Linux user reads instead
};

// Every entry of the table.
const std::vector<PlatformText>& platformTexts();

class PlatformTextTranslator : public QTranslator {
    Q_OBJECT
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// Installs the table into the application (once; later calls do nothing). Returns the translator.
PlatformTextTranslator* installPlatformTexts();

} // namespace pv
