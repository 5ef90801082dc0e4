#include "app/Configuration.h"

#include "app/Identity.h"
#include "app/util/ShellUtil.h"
#include "app/util/StringTokenizer.h"

#include <QStringDecoder>


namespace {

std::u16string& AddressForTesting()
{
    static std::u16string address;
    return address;
}

// Narrow (UTF-8) to wide. A byte-order mark is text like any other: it is
// kept, so "\xEF\xBB\xBF" "7" is not the version code.
QString Widen(const std::string& narrow)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(narrow.data(), static_cast<qsizetype>(narrow.size())));
}

}  // namespace

std::u16string ConfigurationAddress()
{
    if (!AddressForTesting().empty())
        return AddressForTesting();
    return QStringLiteral("http://%1/notarget/varcgi/dncgi.txt")
        .arg(QString::fromUtf8(CORVANE_CONFIG_HOST))
        .toStdU16String();
}

void SetConfigurationAddressForTesting(const std::u16string& address)
{
    AddressForTesting() = address;
}

bool IsOpenableWebAddress(const QString& address)
{
    if (address.size() >= static_cast<qsizetype>(kShellTextCapacity))
        return false;
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
           || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

ConfigurationDecision DecideConfiguration(std::string_view text)
{
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);

    ConfigurationDecision d;
    const StringTokenizer fields(std::string(text), "|");
    const int count = fields.GetCount();
    if (count < 2)
        return d;  // TooFewFields

    // Missing fields (a text of 2 to 4 fields) count as empty; nothing is
    // read past the count.
    const auto field = [&](int index) {
        return index < count ? fields.GetToken(static_cast<unsigned>(index)) : std::string();
    };
    const std::string version = field(0);
    if (Widen(version) != QString::fromUtf16(kVersionCode)) {
        d.action = version == "-1" ? ConfigurationDecision::Action::Retire
                                   : ConfigurationDecision::Action::Update;
        const QString homepage = Widen(field(1));
        if (IsOpenableWebAddress(homepage))
            d.homepageToOpen = homepage;
        return d;
    }

    d.action = ConfigurationDecision::Action::Proceed;
    d.notice = Widen(field(2));
    const QString page = Widen(field(3));
    if (IsOpenableWebAddress(page))
        d.pageToOpen = page;
    d.torrentAddress = Widen(field(4));
    if (count >= 6)
        d.webSeed = field(5);
    return d;
}
