#include "store/ExtendedAsciiTranslator.h"

#include <QByteArray>
#include <QTextCodec>

#include <cstring>

#include "store/Data.h"

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

namespace
{
const char* const g_settingName = "extended_ascii_codepage";
}

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
{
    extendedAsciiTranslator = this;
    // The current value is not read here: the codec is set when a value is connected, which at
    // start-up is the store file's load.
    PathNode* lp_root = new PathNode(d.GetType("global")->NewItem(g_settingName));
    new PathNode(lp_root, "global_value", NotifyOnConnect);
    d.AddPathEventHandler(lp_root,
                          NewEventHandler(this, &ExtendedAsciiTranslator::OnCodePageChanges));
}

ExtendedAsciiTranslator::~ExtendedAsciiTranslator()
{
    if (extendedAsciiTranslator == this)
        extendedAsciiTranslator = nullptr;
}

void ExtendedAsciiTranslator::OnCodePageChanges(ItemPtr i_setting)
{
    const std::string l_name = i_setting["global_value"].AsStdString();
    mp_codec = l_name.empty() ? nullptr
                              : QTextCodec::codecForName(QByteArray(
                                    l_name.data(), static_cast<int>(l_name.size())));
}

void ExtendedAsciiTranslator::SetCodePage(const std::string& i_name)
{
    ItemPtr l_value = d.GetType("global_value")->NewItem(i_name);
    d.GetType("global")->NewItem(g_settingName) += l_value;
}

QString ExtendedAsciiTranslator::Translate(const std::string& i_bytes) const
{
    const int l_length = static_cast<int>(strnlen(i_bytes.data(), i_bytes.size()));
    if (mp_codec)
        return mp_codec->toUnicode(i_bytes.data(), l_length);
    return QString::fromLatin1(i_bytes.data(), l_length);
}
