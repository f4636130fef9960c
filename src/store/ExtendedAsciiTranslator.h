#pragma once

#include <QString>

#include <string>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QTextCodec;

// Decodes text that is not UTF-8 with the code page the user chose in the setting
// "extended_ascii_codepage", or as Latin-1 when none is chosen. It follows the setting, so a
// change on the options page or a value restored from the store file applies at once.
class ExtendedAsciiTranslator : public DataHandler
{
public:
    // Needs the settings types `global` and `global_value` to be declared already.
    ExtendedAsciiTranslator();
    ~ExtendedAsciiTranslator() override;

    // Called with the setting item each time it is given a value.
    void OnCodePageChanges(ItemPtr i_setting);
    // An empty name means no code page.
    void SetCodePage(const std::string& i_name);
    // The bytes up to the first NUL, decoded with the chosen code page.
    QString Translate(const std::string& i_bytes) const;

private:
    QTextCodec* mp_codec = nullptr; // owned by the toolkit
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;
