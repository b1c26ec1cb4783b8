// Cue sheets in the common code pages, read without --cue-charset: each is
// read as it was written, or refused with the code pages it may be in.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cue_sheet.h"

namespace host {
namespace {

std::string Converted(const std::string &utf8, const char *page) {
    iconv_t convert = iconv_open(page, "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 16, '\0');
    char *from = &in[0], *to = &out[0];
    std::size_t left = in.size(), room = out.size();
    const bool ok = convert != reinterpret_cast<iconv_t>(-1) && iconv(convert, &from, &left, &to, &room) == 0;
    if (convert != reinterpret_cast<iconv_t>(-1)) iconv_close(convert);
    EXPECT_TRUE(ok) << page << " cannot hold " << utf8;
    return out.substr(0, out.size() - room);
}

// A sheet as a ripper writes it: performer, album, then one title a track.
std::string Sheet(const std::vector<std::string> &texts) {
    std::string sheet =
        "REM DATE 1999\r\nPERFORMER \"" + texts[0] + "\"\r\nTITLE \"" + texts[1] + "\"\r\nFILE \"album.flac\" WAVE\r\n";
    for (std::size_t i = 2; i < texts.size(); ++i) {
        sheet += "  TRACK 0" + std::to_string(i - 1) + " AUDIO\r\n    TITLE \"" + texts[i] + "\"\r\n    INDEX 01 0" +
                 std::to_string(i) + ":00:00\r\n";
    }
    return sheet;
}

std::vector<std::string> Split(const std::string &text, char by) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, by);) parts.push_back(part);
    return parts;
}

TEST(CodePages, ShortAndLongSheetsAreReadRightOrRefused) {
    // Performer|album|titles; the short sheet holds the first title alone.
    const struct {
        const char *pages;
        const char *texts;
    } kTexts[] = {
        {"cp1252", "Édith Piaf|La Vie en rose|Café de Flore|L'Hymne à l'amour|Padam, padam…|Über den Wolken|Canción"},
        {"CP1250 ISO-8859-2", "Jaromír Nohavica|Divné století|Těšínská|Zatímco se koupeš|Když mě brali za vojáka"},
        {"CP1250 ISO-8859-2", "Czesław Niemen|Dziwny jest ten świat|Płonąca stodoła|Sen o Warszawie|Wspomnienie"},
        {"CP1250 ISO-8859-2", "Omega|Gyöngyhajú lány|Ezüst eső|Petróleumlámpa|Léna|Nem tudom a neved"},
        {"CP1250 ISO-8859-2", "Ľúbim ťa|Vŕba|Štvrtok|Dážď|Môj|Ďakujem|Pieseň|Kôň"},
        {"CP1250 ISO-8859-2", "Đurđevdan|Čaša|Šuma|Ljubav|Žena|Ćao"},
        {"CP1250 ISO-8859-2", "Mărioara|Dor de tine|Frunză verde|Tânăr|În zadar"},
        {"cp1252", "Sigur Rós|Ágætis byrjun|Hoppípolla|Sæglópur|Glósóli|Svefn-g-englar|Við spilum endalaust"},
        {"cp1252", "Dansa i neon|Vår|Främling|Öppna landskap|Håll om mig|Sommaren är kort|Änglar"},
        {"cp1252", "Garota de Ipanema|Águas de março|Canção do mar|Coração|São Paulo|Saudade|Lição"},
        {"CP1251 KOI8-R ISO-8859-5", "Клетва|Щурците|Моя страна|Любов|Сбогом"},
        {"CP1251 ISO-8859-5", "Купалінка|Ў лесе|Вясна|Радзіма|Мая краіна"},
        {"CP1251 KOI8-R KOI8-U ISO-8859-5", "Кино|Группа крови|Война|Звезда по имени Солнце|Спокойная ночь|Легенда"},
        {"CP1251 KOI8-U ISO-8859-5", "Океан Ельзи|Без меж|Обійми|Там, де нас нема|Я так хочу|Все буде добре|Друга"},
        {"CP1251 ISO-8859-5", "Ђорђе Балашевић|Рани мраз|Лепа протина кћи|Неки нови клинци|Слабо дете"},
        {"CP1254", "Tarkan|Karma|Şımarık|Değmesin ellerimiz|Kuzu kuzu|Hüp|Gülümse kaderine"},
        {"CP1253 ISO-8859-7", "Μίκης Θεοδωράκης|Ζορμπάς|Άρνηση|Το τρένο φεύγει στις οχτώ|Στο περιγιάλι το κρυφό"},
        {"CP932 EUC-JP", "宇多田ヒカル|ファースト・ラブ|桜流し|オートマティック|花束を君に|誰かの願いが叶うころ|道"},
        {"CP932 EUC-JP", "ベートーヴェン|交響曲全集|交響曲第9番|交響曲第5番 運命|ピアノ協奏曲第5番"},
        {"CP932 EUC-JP",
         "戦場のメリークリスマス|翼をください|木綿のハンカチーフ|川の流れのように|時の流れに身をまかせ"},
        {"CP949", "소주 한 잔|벚꽃 엔딩|가시나|다시 만난 세계|거짓말|붉은 노을"},
        {"GB18030", "吻别|忘情水|冰雨|童年|大海|新不了情|红日"},
        {"CP950", "吻別|忘情水|冰雨|童年|大海|新不了情|紅日"},
        {"CP949", "아이유|꽃갈피|밤편지|나의 옛날이야기|너의 의미|좋은 날|사랑이 잘"},
        {"GB18030", "王菲|浮躁|红豆|传奇|因为爱情|匆匆那年|我愿意|容易受伤的女人"},
        {"GB18030", "邓丽君|甜蜜蜜|甜蜜蜜|月亮代表我的心|我只在乎你|小城故事"},
        {"CP950", "周杰倫|葉惠美|晴天|東風破|以父之名|七里香|青花瓷|稻香"},
    };
    int shortSheets = 0, refused = 0;
    for (const auto &row : kTexts) {
        const std::vector<std::string> texts = Split(row.texts, '|');
        for (const std::string &page : Split(row.pages, ' ')) {
            for (bool whole : {false, true}) {
                const std::string sheet = Sheet(whole ? texts : std::vector<std::string>{"Band", "Album", texts[2]});
                std::string text, note, error;
                const bool read = DecodeCueText(Converted(sheet, page.c_str()), "", "t.cue", text, note, error);
                shortSheets += whole ? 0 : 1;
                if (read) {
                    EXPECT_EQ(text, sheet) << page << " misread as: " << note;
                    continue;
                }
                ++refused;
                EXPECT_FALSE(whole) << page << ": a whole album is refused: " << error;
                // The message shows the title as it is among the readings.
                EXPECT_NE(error.find("(\"" + texts[2] + "\")"), std::string::npos) << page << ": " << error;
                EXPECT_NE(error.find("not ripped: name the code page with --cue-charset, such as --cue-charset="),
                          std::string::npos)
                    << error;
            }
        }
    }
    std::printf("%d of %d short sheets were refused as not clear\n", refused, shortSheets);
}

TEST(CodePages, SheetsReadOrRefused) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string utf8 = "PERFORMER \"Sigur R\xC3\xB3s\"\nTITLE \"";
    const struct {
        std::string bytes;
        const char *charset;
        std::string text;   // empty: refused
        const char *named;  // a reading that the refusal names
    } kCases[] = {
        // UTF-8 with a title pasted in from cp1252, and from cp1251.
        {bom + utf8 + "Caf\xE9 Noir\"\n", "", utf8 + "Caf\xC3\xA9 Noir\"\n", ""},
        {bom + utf8 + "\xC7\xE2\xE5\xE7\xE4\xE0\"\n", "cp1251",
         utf8 + "\xD0\x97\xD0\xB2\xD0\xB5\xD0\xB7\xD0\xB4\xD0\xB0\"\n", ""},
        // Without the mark: UTF-8 letters around a cp1252 one.
        {utf8 + "Bj\xC3\xB6rk, Caf\xE9\"\n", "", utf8 + "Bj\xC3\xB6rk, Caf\xC3\xA9\"\n", ""},
        // The mark is taken off in any code page named.
        {bom + "TITLE \"Caf\xC3\xA9\"\n", "cp1251", "TITLE \"Caf\xC3\xA9\"\n", ""},
        {bom + "TITLE \"\xC3\xA9\xE9\"\n", "KOI8-R", "TITLE \"\xC3\xA9\xD0\x98\"\n", ""},
        // One letter, read alike by two code pages as two languages.
        {"TITLE \"Ko\xE8ka\"\n", "", "", "CP1250 (\"Ko\xC4\x8Dka\")"},
        // Short titles that other code pages read as a word of vowels
        // ("Ìàìà") or with a character glued to a Latin word ("F黵").
        {"TITLE \"\xCC\xE0\xEC\xE0\"\n", "", "TITLE \"\xD0\x9C\xD0\xB0\xD0\xBC\xD0\xB0\"\n", ""},
        {"TITLE \"F\xFCr Elise\"\n", "", "TITLE \"F\xC3\xBCr Elise\"\n", ""},
        // A quote, which a Mac code page reads as a letter ("Donít").
        {"PERFORMER \"Don\x92t Stop Me Now\"\n", "", "PERFORMER \"Don\xE2\x80\x99t Stop Me Now\"\n", ""},
        // In cp1250 "Mańana" and "Săo": Polish ń before no vowel, Romanian ă
        // before no o; and in cp1252 ISO-8859-2's "Škola" is "©kola".
        {"TITLE \"Ma\xF1"
         "ana\"\n",
         "",
         "TITLE \"Ma\xC3\xB1"
         "ana\"\n",
         ""},
        {"TITLE \"S\xE3o Paulo\"\n", "", "TITLE \"S\xC3\xA3o Paulo\"\n", ""},
        {"TITLE \"\xA9kola\"\n", "", "TITLE \"\xC5\xA0kola\"\n", ""},
        // "Déjà" in cp1250 is "Déjŕ": Slovak's ŕ stands between consonants.
        {"TITLE \"D\xE9j\xE0 vu\"\n", "", "TITLE \"D\xC3\xA9j\xC3\xA0 vu\"\n", ""},
        // "Così" in cp1250 is "Cosě": Czech ě follows no s.
        {"TITLE \"Cos\xEC celeste\"\n", "", "TITLE \"Cos\xC3\xAC celeste\"\n", ""},
        // "Gdańsk" in cp1250 is "Gdañsk": Spanish ñ comes before a vowel.
        {"TITLE \"Gda\xF1sk\"\n", "", "TITLE \"Gda\xC5\x84sk\"\n", ""},
        // "İstanbul" in cp1254 is "Ýstanbul" in cp1252.
        {"TITLE \"\xDDstanbul\"\n", "", "", "CP1254 (\"\xC4\xB0stanbul\")"},
        // One byte alone: "Ъ" in KOI8-R is "я" in cp1251.
        {"TITLE \"\xFF\"\n", "", "", "CP1251 (\"\xD1\x8F\")"},
        // Valid UTF-8, but a letter no title holds: "道" in EUC-JP.
        {"TITLE \"\xC6\xBB\"\n", "", "", "EUC-JP (\"\xE9\x81\x93\")"},
    };
    for (const auto &c : kCases) {
        std::string text, note, error;
        const bool read = DecodeCueText(c.bytes, c.charset, "t.cue", text, note, error);
        EXPECT_EQ(read, !c.text.empty()) << c.bytes << ": " << error;
        EXPECT_EQ(text.compare(0, c.text.size(), c.text), 0) << c.bytes << " read as " << text;
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace host
