#include "code_pages.h"

#include <iconv.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <iterator>

namespace host {

namespace {

// The code point of the valid UTF-8 sequence at bytes[at], and its length;
// 0 when there is none.
std::size_t Utf8At(const std::string &bytes, std::size_t at, char32_t &code) {
    static const char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const auto byte = static_cast<unsigned char>(bytes[at]);
    const int more = byte < 0x80             ? 0
                     : (byte & 0xE0) == 0xC0 ? 1
                     : (byte & 0xF0) == 0xE0 ? 2
                     : (byte & 0xF8) == 0xF0 ? 3
                                             : -1;
    if (more < 0 || bytes.size() - at <= static_cast<std::size_t>(more)) return 0;
    code = byte & (more == 0 ? 0x7Fu : 0x3Fu >> more);
    for (int i = 1; i <= more; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3Fu);
    }
    if (code < kSmallest[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
    return static_cast<std::size_t>(more) + 1;
}

std::u32string CodePoints(const std::string &utf8) {
    std::u32string codes;
    char32_t code = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t length = Utf8At(utf8, at, code);
        codes += length > 0 ? code : U'\uFFFD';
        at += length > 0 ? length : 1;
    }
    return codes;
}

bool Convert(iconv_t convert, const std::string &bytes, std::size_t first, std::size_t end, std::string &text,
             std::size_t &badAt) {
    iconv(convert, nullptr, nullptr, nullptr, nullptr);
    std::string in = bytes.substr(first, end - first);
    char *from = &in[0];
    std::size_t left = in.size();
    char chunk[4096];
    while (left > 0) {
        char *to = chunk;
        std::size_t room = sizeof chunk;
        const std::size_t done = iconv(convert, &from, &left, &to, &room);
        text.append(chunk, static_cast<std::size_t>(to - chunk));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            badAt = first + static_cast<std::size_t>(from - in.data());
            return false;
        }
    }
    return true;
}

// A script's letters, for telling a word that some language writes.
enum class Script { None, Latin, Greek, Cyrillic, Other };

Script ScriptOf(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return Script::Latin;
    if ((c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x1E00 && c <= 0x1EFF)) return Script::Latin;
    if (c >= 0x386 && c <= 0x3FF && c != 0x387) return Script::Greek;
    if (c >= 0x400 && c <= 0x52F) return Script::Cyrillic;
    if ((c >= 0x531 && c <= 0x587) || (c >= 0x5D0 && c <= 0x5EA) || (c >= 0x620 && c <= 0x64A) ||
        (c >= 0xE01 && c <= 0xE4E) || (c >= 0x10A0 && c <= 0x10FF))
        return Script::Other;
    return Script::None;
}

// The small letter of a capital of the Latin, Greek or Cyrillic alphabet
// (capital set), or the letter as it is (capital cleared).
char32_t LowerOf(char32_t c, bool &capital) {
    capital = true;
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    const bool evenCapital = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || (c >= 0x218 && c <= 0x21B) ||
                             (c >= 0x1E00 && c <= 0x1EFF) || (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF);
    if (evenCapital && c % 2 == 0) return c + 1;
    const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddCapital && c % 2 == 1) return c + 1;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    capital = false;
    return c;
}

// The letters beyond ASCII that one language writes, small; a word's must all
// be one language's.
const char32_t *const kLatinLanguages[] = {
    U"àâæçéèêëîïôœùûüÿ",   // French
    U"äöüßé",              // German
    U"áéíñóúü",            // Spanish
    U"áâãàçéêíóôõú",       // Portuguese
    U"àèéìíîòóùú",         // Italian
    U"àçèéíïòóúü",         // Catalan
    U"áéëïöüèó",           // Dutch
    U"æøåéó",              // Danish, Norwegian
    U"åäöé",               // Swedish
    U"äöåšž",              // Finnish
    U"áðéíóúýþæö",         // Icelandic
    U"áčďéěíňóřšťúůýž",    // Czech
    U"áäčďéíĺľňóôŕšťúýž",  // Slovak
    U"ąćęłńóśźż",          // Polish
    U"áéíóöőúüű",          // Hungarian
    U"čćđšž",              // Croatian, Serbian, Slovene
    U"ăâîșşțţ",            // Romanian
    U"çğıöşüâîûİ",         // Turkish
    U"āčēģīķļņšūž",        // Latvian
    U"ąčęėįšųūž",          // Lithuanian
    U"äöõüšž",             // Estonian
    U"çë",                 // Albanian
};
const char32_t *const kCyrillicLanguages[] = {
    U"абвгдежзийклмнопрстуфхцчшщъыьэюяё",  // Russian
    U"абвгґдеєжзиіїйклмнопрстуфхцчшщьюя",  // Ukrainian
    U"абвгдеёжзійклмнопрстуўфхцчшыьэюя",   // Belarusian
    U"абвгдежзийклмнопрстуфхцчшщъьюя",     // Bulgarian
    U"абвгдђежзијклљмнњопрстћуфхцчџш",     // Serbian
    U"абвгдѓежзѕијклљмнњопрстќуфхцчџш",    // Macedonian
};
// Latin small letters beyond ASCII that titles hold often, and hardly ever.
const char32_t kFrequentLatin[] = U"éáóíüöäàèñçúøåãßčšžłęążśřěýőńâêôăîșțşığðþæ";
const char32_t kRareLatin[] = U"ŕĺľģķļņĸŉſ";
// Small letters, the most frequent first.
const char32_t kCyrillicByFrequency[] = U"оеаинтсрвлкмдпуіяыьгёзбчйхжшюцщэфъїєґў";
const char32_t kGreekByFrequency[] = U"αοιετσνηυρπκμλςάέίόήύωώδγχθφβξζψϊϋ";

// Characters frequent in titles, by the languages that write them: a
// misread sheet draws characters from a code page's whole table, which these
// rarely are.
const char kFrequentChinese[] =
    "的一是不了人我在有他这为之大来以个中上们到说国和地也子时道出而要于就下得可你年生自会那后能对着事其里所去行过家十"
    "用发天如然作方成者多日都三小二无同么经法当起与好看学进种将还分此心前面又定见只主没公从知使全等高长己样两回本意相"
    "现美风情歌爱夜梦雨月花春光星海山水空火东西南北红白黑青明金间世界活女男孩少王音乐新老师声她它吗吧呢啊最再走飞想"
    "念忘记永远快幸福伤眼泪笑哭唱听话语言谁什怎何原因故开始结束离别遇城市路口街回方阳温暖寂寞孤独朋友恋爸妈兄弟姐妹"
    "京香港台湾英雄传版场演选集第四五六七八九百千万代曲部题像深动感觉身边手给吻冬秋晚早今昨朝点滴等待"
    "把被让跟向往很太更还已曾正着过所但而且或者如果虽然只要才能可应该必须需希望喜欢恨怕担信明白懂发现认为"
    "见告诉问答写读习工作生活家孩父母世界城时候今昨以后前永远直样切没什么多少哪里这那梦声舞蹈电影故事传说回忆"
    "青春岁月时光阴流年红尘江湖天涯海角河风雨雪亮太阳星白云蓝大草原沙漠"
    "們這為來個國說時對過會後麼經發當與學進種將還從見長樣兩現愛夢風東紅雲華書電話語誰開結離城門樂聲師靈淚傷憶記遠"
    "飛戀聽歡歲劇選輯戰無雙實團車點熱燈鳥魚龍馬島陽溫寞獨傳場邊覺動給詞曲歌讓嗎藍滿綠葉與關問題難輕鬆靜鳳麗塵"
    "晴雨雪香里破名父母子兒童話詩畫影戲劇舞曲調琴笛鼓燈塔橋河湖島嶼林木草葉根果實"
    "情緣淚憶憂愁悲喜怒哀樂思想念望盼等候追尋找失去得到給予擁抱親吻牽手陪伴守護"
    "情缘泪忆忧愁悲喜怒哀思想念望盼等候追寻找失去得到给予拥抱亲吻牵手陪伴守护画影戏剧舞调琴"
    "日月星辰云彩虹霞霜露冰雪风雨雷电阳光影子天地山川江河湖海岛屿森林树木草叶花果";
const char kFrequentJapanese[] =
    "日一国人年大十二本中長出三時行見月分後前生五間上東四今金九入学高円子外八六下来気小七山話女北午百書先名川千水半"
    "男西電校語土木聞食車何南万毎白天母火右読友左休父雨会同事自社発者地業方新場員立開手力問代明動京目通言理体田主題"
    "意不作用度強公持野以思家世多正安院心界教文元重近考画海売知道集別物使品計死特私始朝運終台広住真有口少町料工建空"
    "急止送切転研足究楽起着店病質待試族銀早映親験英医仕去味写字答夜音注帰古歌買悪図週室歩風紙黒花春赤青館屋色走秋夏"
    "習駅洋旅服夕借曜飲肉貸堂鳥飯勉冬昼茶弟牛魚兄犬妹姉漢恋愛夢君僕涙声光星桜雪約束願叶永遠未笑泣抱翼羽輝奇跡唄詩街"
    "想胸瞳唇虹雲陽太季節命魂祈絆誓嘘傷痛寂淋悲幸福戦争平和由勇希望絶対最初過去現在再離届伝向駆残酷紅蓮華流誰盤達様"
    "続薬歳交響曲第番号組合部品解決奏器演練習集全編選名録収版初回限定特典付千本炎怪獣唄世界一花夜空向"
    "行進組曲協奏鳴作品短調長調序幕終章前奏間奏舞踏祭典記念式典";
const char kFrequentKorean[] =
    "사랑해요이다가는의에을를고나너우리하지기도서한그대로오늘밤별빛눈물꿈마음안녕시간세상무내게말라니까면은수있어"
    "없네보싶잊마세처럼노래바람길집엄아빠친구행복슬픔억추별만남작끝새운여름겨울봄날들것같주모든정제발번또함께영원히"
    "람너의소년너를나를에게일곡집앨범"
    "가각간갈감강개거건걸게겠결경계고곡골공과관광교구국군굴권귀그극근글금기긴길김까깨꺼께꼭꽃꾸꿈끝나날남내냐너넌널"
    "네녀년노놀누눈는늘니님다단달담당대더던데도독돌동되된될두둘뒤드든들등디따때떠또뜨라락란람랑래러런럼레려력로록론"
    "료루르른를름리린릴림마만많말맘망매머먼메며면명모목몰몸못무문물뭐미민밀바박반받발밤방배백버번벌베별보복본봄부분"
    "불비빛빠사산살상새색생서선설성세소속손송수숨쉬스슬시식신실심싶써아안않알앞애야약양어억언얼엄없었에여역연열영예"
    "오온올와왜외요용우운울웃원위유으은을음의이인일잃있잊자작잘잠장재저적전절점정제조좋주죽준줄중즈지진질집짓차참창"
    "찾처천첫청초추춤충치친카커코크키타터테토통트티파판퍼페편포표푸프피하한할함해했행향허현혼홀화환활황회후흐흔히힘";

// Which language's characters a code page writes, for the frequent ones.
enum class Family { Any, Chinese, Japanese, Korean };

bool Contains(const char32_t *letters, char32_t c) {
    for (; *letters != 0; ++letters) {
        if (*letters == c) return true;
    }
    return false;
}

std::u32string SortedCodePoints(const char *utf8) {
    std::u32string codes = CodePoints(utf8);
    std::sort(codes.begin(), codes.end());
    return codes;
}

bool IsFrequent(char32_t c, Family family) {
    static const std::u32string chinese = SortedCodePoints(kFrequentChinese);
    static const std::u32string japanese = SortedCodePoints(kFrequentJapanese);
    static const std::u32string korean = SortedCodePoints(kFrequentKorean);
    auto in = [c](const std::u32string &codes) { return std::binary_search(codes.begin(), codes.end(), c); };
    switch (family) {
        case Family::Chinese:
            return in(chinese);
        case Family::Japanese:
            return in(japanese);
        case Family::Korean:
            return in(korean);
        default:
            return in(chinese) || in(japanese) || in(korean);
    }
}

bool IsHan(char32_t c) { return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || c >= 0x20000; }
bool IsKana(char32_t c) { return c >= 0x3041 && c <= 0x30FF && c != 0x30FB; }
bool IsHangul(char32_t c) { return c >= 0xAC00 && c <= 0xD7A3; }

// A Korean syllable that is not frequent: one with a double final consonant
// (such as "랎") is rare.
int HangulWeight(char32_t c) {
    static const int kDoubleFinals[] = {3, 5, 6, 9, 10, 11, 12, 13, 14, 15, 18};
    const int final = static_cast<int>((c - 0xAC00) % 28);
    return std::find(std::begin(kDoubleFinals), std::end(kDoubleFinals), final) != std::end(kDoubleFinals) ? -3 : 0;
}

// A Chinese, Japanese or Korean character or sign beside an ASCII letter: a
// code page of two bytes a character that took a letter of a word (or a
// single byte of half-width katakana taken for an accented letter). Titles
// glue them to Latin letters seldom ("LOVEマシーン"), a misreading of a Latin
// word often.
int GluedToAscii(const std::u32string &text, std::size_t at) {
    auto asciiLetter = [&text](std::size_t i) {
        return i < text.size() && text[i] < 0x80 && ScriptOf(text[i]) == Script::Latin;
    };
    return (at > 0 && asciiLetter(at - 1) ? 8 : 0) + (asciiLetter(at + 1) ? 8 : 0);
}

// Characters that no title holds: controls, box-drawing and block signs,
// integral halves, private use and characters no code page gave.
bool IsStrange(char32_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7F && c <= 0x9F) ||
           (c >= 0x2500 && c <= 0x259F) || c == 0x2320 || c == 0x2321 || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD;
}

// Signs that titles hardly hold but misreadings give often.
int SignWeight(char32_t c) {
    static const char32_t kRare[] = U"¤¦¨¬\u00AD¯´¸¹³¼½¾µ¶±ªº÷²¢ƒ‹›†‡‰ˆˇ˘˙˚˛˜˝΄΅";
    if (Contains(kRare, c) || (c >= 0x2200 && c <= 0x22FF) || (c >= 0x2308 && c <= 0x2310)) return -8;
    if (c >= 0xFF61 && c <= 0xFF9F) return -3;  // half-width katakana
    if (c >= 0x3131 && c <= 0x318E) return -4;  // Korean letters standing alone
    if (c == 0x2018 || c == 0x201A || c == 0x2122 || c == 0xA5 || (c >= 0x2190 && c <= 0x21FF) ||
        (c >= 0x25A0 && c <= 0x25FF) || (c >= 0x3200 && c <= 0x33FF) || (c >= 0xFE30 && c <= 0xFE4F))
        return -3;
    if (c == 0xD7 || c == 0x2022 || (c >= 0x2160 && c <= 0x217F)) return -2;
    // Where a Japanese long vowel mark reads as a Chinese bracket.
    if (c == 0x3016 || c == 0x3017) return -8;
    return 0;
}

// A letter beyond ASCII in a word that some language writes.
int LetterWeight(Script script, char32_t small) {
    const char32_t *ranked = script == Script::Cyrillic ? kCyrillicByFrequency
                             : script == Script::Greek  ? kGreekByFrequency
                                                        : nullptr;
    if (small == 0x3B0 || small == 0x390) return -6;  // rare in Greek, frequent in misreadings
    if (script == Script::Latin) return Contains(kFrequentLatin, small) ? 3 : Contains(kRareLatin, small) ? 0 : 2;
    // Letters of other alphabets: a reading of libuchardet's, unweighed.
    if (ranked == nullptr) return 0;
    for (int rank = 0; ranked[rank] != 0; ++rank) {
        if (ranked[rank] == small) return rank < 10 ? 3 : rank < 20 ? 1 : rank < 27 ? 0 : -2;
    }
    return -1;
}

const char32_t kLatinVowels[] = U"aeiouyàáâãäåæèéêëìíîïòóôõöøùúûüýÿœąęėįųūāēīőűůě";
const char32_t kGreekVowels[] = U"αεηιουωάέήίόύώϊϋΐΰ";
const char32_t kCyrillicVowels[] = U"аеёиоуыэюяіїє";

// Whether a word's vowels and consonants follow each other as words have
// them: a misreading makes words of vowels alone ("Ìàìà"), or runs of
// consonants that no Cyrillic or Greek word has ("РЧЙЬ", "Κσκσψκ"); a
// small Greek sigma never ends a word.
bool Pronounceable(const std::u32string &word, Script script) {
    const char32_t *vowels = script == Script::Latin      ? kLatinVowels
                             : script == Script::Greek    ? kGreekVowels
                             : script == Script::Cyrillic ? kCyrillicVowels
                                                          : nullptr;
    if (vowels == nullptr) return true;
    int vowelCount = 0, vowelRun = 0, consonantRun = 0, longestVowels = 0, longestConsonants = 0;
    for (char32_t c : word) {
        bool capital = false;
        const bool vowel = Contains(vowels, LowerOf(c, capital));
        vowelCount += vowel ? 1 : 0;
        vowelRun = vowel ? vowelRun + 1 : 0;
        consonantRun = vowel ? 0 : consonantRun + 1;
        longestVowels = std::max(longestVowels, vowelRun);
        longestConsonants = std::max(longestConsonants, consonantRun);
    }
    const int letters = static_cast<int>(word.size());
    if (script == Script::Latin) {
        // Slovak's syllabic ŕ and ĺ stand between consonants, Czech's ů after
        // one: where another code page has à, å or ù after a vowel or at
        // the end ("Déjŕ", "Piů").
        for (std::size_t i = 0; i < word.size(); ++i) {
            bool capital = false;
            const char32_t small = LowerOf(word[i], capital);
            auto consonant = [&word](std::size_t at) {
                bool unused = false;
                return at < word.size() && !Contains(kLatinVowels, LowerOf(word[at], unused));
            };
            if ((small == U'ŕ' || small == U'ĺ') && !(i > 0 && consonant(i - 1) && consonant(i + 1))) return false;
            if (small == U'ů' && !(i > 0 && consonant(i - 1))) return false;
            // Czech ě follows b, d, f, m, n, p, t or v only ("Cosě" for "Così").
            if (small == U'ě' && !(i > 0 && Contains(U"bdfmnptv", LowerOf(word[i - 1], capital)))) return false;
            // Spanish ñ comes before a vowel, Polish ń, ś and ź never do
            // (Polish writes "ni", "si", "zi" there); Romanian ă comes before
            // no a, e or o, where Portuguese ã does ("Săo" for "São").
            const bool beforeVowel = i + 1 < word.size() && !consonant(i + 1);
            if (small == U'ñ' && !beforeVowel) return false;
            if ((small == U'ń' || small == U'ś' || small == U'ź') && beforeVowel) return false;
            if (small == U'ă' && i + 1 < word.size() && Contains(U"aeo", LowerOf(word[i + 1], capital))) return false;
        }
        return letters < 3 || vowelCount < letters;
    }
    if (script == Script::Greek && word.back() == 0x3C3) return false;
    return longestConsonants < 5 && longestVowels < 4 && (letters < 3 || vowelCount > 0);
}

// Letters beyond ASCII that make a word of their own in some language.
const char32_t kLatinWordLetters[] = U"àèéìòùóőåøöä";
const char32_t kCyrillicWordLetters[] = U"абвжзийкосуяіє";
const char32_t kGreekWordLetters[] = U"αηήοωώ";

// The languages (bits of the script's table) that write a word of letters
// of the script given, 0 for none: one alphabet, small letters after
// capitals only, every letter of one language, a Greek final sigma at the
// end, a word of one letter beyond ASCII only where that is a word.
std::uint32_t WordLanguages(const std::u32string &word, Script script) {
    bool sawSmall = false;
    int capitals = 0;
    std::u32string smalls;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char32_t c = word[i];
        if (ScriptOf(c) != script) return 0;
        bool capital = false;
        const char32_t small = LowerOf(c, capital);
        // Capitals: the first letter, or every letter.
        if (capital ? sawSmall : capitals > 1) return 0;
        capitals += capital ? 1 : 0;
        sawSmall = sawSmall || !capital;
        if (c == 0x3C2 && i + 1 != word.size()) return 0;
        // (Turkish İ is a capital i of its own.)
        if (c >= 0x80) smalls += small < 0x80 ? c : small;
    }
    if (!Pronounceable(word, script)) return 0;
    const bool latin = script == Script::Latin;
    const char32_t *wordLetters = latin                     ? kLatinWordLetters
                                  : script == Script::Greek ? kGreekWordLetters
                                                            : kCyrillicWordLetters;
    if (word.size() == 1 && script != Script::Other && !Contains(wordLetters, smalls[0])) return 0;
    if (script == Script::Greek || script == Script::Other) return 1;
    const char32_t *const *languages = latin ? kLatinLanguages : kCyrillicLanguages;
    const std::size_t count = latin ? std::size(kLatinLanguages) : std::size(kCyrillicLanguages);
    std::uint32_t fitting = 0;
    for (std::size_t language = 0; language < count; ++language) {
        bool all = true;
        for (char32_t small : smalls) all = all && Contains(languages[language], small);
        if (all) fitting |= 1u << language;
    }
    return fitting;
}

// The words of a text, by the languages that write each, per script.
struct WordLanguageSets {
    std::vector<std::uint32_t> latin, cyrillic;
};

void WeighWord(const std::u32string &word, TextWeight &weight, WordLanguageSets &sets) {
    // A word of ASCII letters reads the same in every code page; the others
    // are of the script of their first letter beyond ASCII.
    const auto beyond = std::find_if(word.begin(), word.end(), [](char32_t c) { return c >= 0x80; });
    if (beyond == word.end()) {
        weight.score += static_cast<int>(word.size());
        return;
    }
    const Script script = ScriptOf(*beyond);
    const std::uint32_t languages = WordLanguages(word, script);
    if (languages != 0 && script == Script::Latin) sets.latin.push_back(languages);
    if (languages != 0 && script == Script::Cyrillic) sets.cyrillic.push_back(languages);
    for (char32_t c : word) {
        if (c < 0x80) {
            weight.score += 1;
            continue;
        }
        ++weight.letters;
        bool capital = false;
        const char32_t small = LowerOf(c, capital);
        if (languages != 0) {
            weight.score += LetterWeight(script, small);
        } else {
            weight.score -= 8;
            ++weight.broken;
        }
    }
}

// How many languages it takes to write every word (greedily counted): a
// misreading makes words of many.
int LanguagesNeeded(std::vector<std::uint32_t> words) {
    int needed = 0;
    while (!words.empty()) {
        int best = 0;
        std::size_t bestCount = 0;
        for (int language = 0; language < 32; ++language) {
            const auto count = static_cast<std::size_t>(std::count_if(
                words.begin(), words.end(), [language](std::uint32_t word) { return (word >> language & 1u) != 0; }));
            if (count > bestCount) {
                best = language;
                bestCount = count;
            }
        }
        words.erase(
            std::remove_if(words.begin(), words.end(), [best](std::uint32_t word) { return (word >> best & 1u) != 0; }),
            words.end());
        ++needed;
    }
    return needed;
}

// A code page the host weighs a sheet's bytes in.
struct CodePage {
    const char *name;
    const char *description;
    Family family;
};
const CodePage kCodePages[] = {
    {"cp1252", "Windows Western", Family::Any},
    {"CP1250", "Windows Central European", Family::Any},
    {"ISO-8859-2", "Latin-2, Central European", Family::Any},
    {"CP1251", "Windows Cyrillic", Family::Any},
    {"KOI8-R", "Russian", Family::Any},
    {"KOI8-U", "Ukrainian", Family::Any},
    {"ISO-8859-5", "Latin/Cyrillic", Family::Any},
    {"CP1253", "Windows Greek", Family::Any},
    {"CP1254", "Windows Turkish", Family::Any},
    {"ISO-8859-7", "Latin/Greek", Family::Any},
    {"CP932", "Shift-JIS, Japanese", Family::Japanese},
    {"EUC-JP", "Japanese", Family::Japanese},
    {"CP949", "EUC-KR, Korean", Family::Korean},
    {"GB18030", "GBK, simplified Chinese", Family::Chinese},
    {"CP950", "Big5, traditional Chinese", Family::Chinese},
};

struct Reading {
    std::string name;
    std::string description;
    std::string text;
    bool around = false;  // UTF-8 but for some bytes
    TextWeight weight;
};

// The character set libuchardet finds in bytes, empty when it finds none:
// one more reading, for the code pages that the table leaves out.
std::string DetectedCharset(const std::string &bytes) {
    uchardet_t detector = uchardet_new();
    if (detector == nullptr) return std::string();
    std::string found;
    if (uchardet_handle_data(detector, bytes.data(), bytes.size()) == 0) {
        uchardet_data_end(detector);
        const char *name = uchardet_get_charset(detector);
        if (name != nullptr) found = name;
    }
    uchardet_delete(detector);
    return found;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// How each of the readings reads the first line where they differ: its
// quoted text (a title), at most 40 characters, controls as "?".
std::vector<std::string> Samples(const std::vector<const Reading *> &readings) {
    std::vector<std::vector<std::string>> lines;
    lines.reserve(readings.size());
    for (const Reading *reading : readings) lines.push_back(Lines(reading->text));
    // The first line where they differ, or, read alike, the first one beyond
    // ASCII.
    std::size_t differing = 0;
    for (bool same = true; same && differing < lines[0].size(); differing += same ? 1 : 0) {
        for (const std::vector<std::string> &other : lines) {
            same = same && differing < other.size() && other[differing] == lines[0][differing];
        }
        same =
            same && (readings.size() > 1 || std::all_of(lines[0][differing].begin(), lines[0][differing].end(),
                                                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    }
    std::vector<std::string> samples;
    for (const std::vector<std::string> &reading : lines) {
        const std::string line = differing < reading.size() ? reading[differing] : std::string();
        const std::size_t open = line.find('"');
        const std::size_t first = open == std::string::npos ? 0 : open + 1;
        const std::u32string title = CodePoints(line.substr(first, line.find('"', first) - first));
        std::string sample;
        for (std::size_t i = 0; i < title.size() && i < 40; ++i)
            AppendUtf8(sample, IsStrange(title[i]) ? U'?' : title[i]);
        samples.push_back(sample);
    }
    return samples;
}

}  // namespace

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool ReadInCodePage(const std::string &bytes, const char *charset, bool utf8Around, std::string &text,
                    std::size_t &badAt) {
    text.clear();
    iconv_t convert = iconv_open("UTF-8", charset);
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        badAt = std::string::npos;
        return false;
    }
    bool ok = true;
    for (std::size_t at = 0; ok && at < bytes.size();) {
        std::size_t end = bytes.size();
        if (utf8Around) {
            char32_t code = 0;
            const std::size_t length = Utf8At(bytes, at, code);
            if (length > 0) {
                text.append(bytes, at, length);
                at += length;
                continue;
            }
            // The bytes of another code page, with the ASCII between them
            // (a multi-byte code page's second bytes may be ASCII).
            for (end = at + 1; end < bytes.size() && bytes[end] != '\n'; ++end) {
                if (static_cast<unsigned char>(bytes[end]) >= 0x80 && Utf8At(bytes, end, code) > 1) break;
            }
        }
        ok = Convert(convert, bytes, at, end, text, badAt);
        at = end;
    }
    iconv_close(convert);
    return ok;
}

static TextWeight WeighText(const std::string &utf8, Family family) {
    TextWeight weight;
    const std::u32string text = CodePoints(utf8);
    WordLanguageSets sets;
    std::u32string word;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        const char32_t c = at < text.size() ? text[at] : 0;
        if (at < text.size() && ScriptOf(c) != Script::None) {
            word += c;
            continue;
        }
        if (!word.empty()) WeighWord(word, weight, sets);
        word.clear();
        if (at == text.size() || c < 0x80) continue;
        if (IsStrange(c)) {
            ++weight.strange;
            weight.score -= 20;
        } else if (IsHan(c) || IsKana(c) || IsHangul(c)) {
            ++weight.letters;
            weight.score += IsFrequent(c, family)          ? 4
                            : IsKana(c)                    ? 3
                            : IsHangul(c)                  ? HangulWeight(c)
                            : (c >= 0x4E00 && c <= 0x9FFF) ? 0
                                                           : -4;
            // Korean titles seldom set Chinese characters beside their own.
            if (at > 0 && (IsHangul(c) ? IsHan(text[at - 1]) : IsHan(c) && IsHangul(text[at - 1]))) weight.score -= 4;
            weight.score -= GluedToAscii(text, at);
        } else {
            weight.score += SignWeight(c);
            // A copyright or registered sign glued to the letters after it
            // ("©kola"): another code page's letter.
            if ((c == 0xA9 || c == 0xAE) && at + 1 < text.size() && ScriptOf(text[at + 1]) != Script::None)
                weight.score -= 8;
            // Full-width Latin letters, as Japanese titles write them.
            if ((c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A)) weight.score += 2;
            if (c >= 0x2E80) weight.score -= GluedToAscii(text, at);
            // A quote that opens a word of letters beyond ASCII: an accented
            // capital that another code page holds where this one has quotes.
            const bool opening = at == 0 || ScriptOf(text[at - 1]) == Script::None;
            if ((c == 0x2018 || c == 0x2019) && opening && at + 1 < text.size() && text[at + 1] >= 0x80 &&
                ScriptOf(text[at + 1]) != Script::None)
                weight.score -= 8;
        }
    }
    weight.score -= 8 * (std::max(LanguagesNeeded(sets.latin), 1) - 1);
    weight.score -= 8 * (std::max(LanguagesNeeded(sets.cyrillic), 1) - 1);
    return weight;
}

TextWeight WeighText(const std::string &utf8) { return WeighText(utf8, Family::Any); }

bool Clean(const TextWeight &weight) { return weight.strange == 0 && weight.broken * 4 <= weight.letters; }

CodePageGuess GuessCodePage(const std::string &bytes, bool utf8Around) {
    // With UTF-8 beyond ASCII among the other bytes, the sheet may be UTF-8
    // with a title pasted from a code page: each code page reads both ways.
    // (A code page's text holds one or a few by chance: it takes two, and as
    // many as the other bytes.)
    std::size_t utf8 = 0, notUtf8 = 0;
    char32_t code = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = Utf8At(bytes, at, code);
        utf8 += length > 1 ? 1 : 0;
        notUtf8 += length == 0 ? 1 : 0;
        at += length > 0 ? length : 1;
    }
    const bool someUtf8 = utf8Around || (utf8 > 1 && utf8 >= notUtf8);
    std::vector<CodePage> pages(std::begin(kCodePages), std::end(kCodePages));
    // Of libuchardet's answers, only the code pages that sheets are written
    // in (Windows', Thai, and ISO's Arabic, Hebrew, Turkish and Baltic) are
    // weighed: on a short text it names Mac, DOS and rare ISO ones, which
    // read cp1252's quotes and letters as other letters ("Donít", "Maņana").
    const std::string detected = DetectedCharset(bytes);
    bool usual = false;
    for (const char *prefix : {"WINDOWS-", "TIS-620", "ISO-8859-6", "ISO-8859-8", "ISO-8859-9", "ISO-8859-13"}) {
        usual = usual || detected.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
    }
    if (usual) pages.push_back({detected.c_str(), "found by libuchardet", Family::Any});
    std::vector<Reading> readings;
    for (int around = utf8Around ? 1 : 0; around <= (someUtf8 ? 1 : 0); ++around) {
        for (const CodePage &page : pages) {
            Reading reading;
            std::size_t badAt = 0;
            if (!ReadInCodePage(bytes, page.name, around == 1, reading.text, badAt)) continue;
            bool same = false;
            for (const Reading &other : readings) same = same || other.text == reading.text;
            if (same) continue;
            reading.name = page.name;
            reading.description = page.description;
            reading.around = around == 1;
            if (reading.around && reading.text == bytes) {
                reading.name = "UTF-8";
                reading.description = "Unicode";
                reading.around = false;
            }
            reading.weight = WeighText(reading.text, page.family);
            readings.push_back(reading);
        }
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const Reading &a, const Reading &b) { return a.weight.score > b.weight.score; });
    CodePageGuess guess;
    if (readings.empty()) return guess;
    const Reading &best = readings[0];
    // A reading with signs no title holds, or with many words no language
    // writes, is no reading to trust; nor one that another reading comes
    // close to, as it does on a short text.
    const int kMargin = 8;
    // One or two bytes beyond ASCII, apart from any word of ASCII letters,
    // are a character or two that every code page reads as something.
    std::size_t beyond = 0;
    bool besideAscii = false;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (static_cast<unsigned char>(bytes[at]) < 0x80) continue;
        ++beyond;
        for (std::size_t side : {at - 1, at + 1}) {
            besideAscii = besideAscii || (side < bytes.size() && std::isalpha(static_cast<unsigned char>(bytes[side])));
        }
    }
    const bool tooShort = !utf8Around && beyond <= 2 && !besideAscii;
    const bool clean = Clean(best.weight) && !tooShort;
    const bool ahead = readings.size() == 1 || best.weight.score - readings[1].weight.score >= kMargin;
    if (clean && ahead) {
        guess.sure = true;
        guess.name = best.name;
        guess.description = best.description;
        guess.text = best.text;
        guess.utf8Around = best.around;
        return guess;
    }
    bool someClean = false;
    for (const Reading &reading : readings) someClean = someClean || reading.weight.strange == 0;
    std::vector<const Reading *> likely;
    for (const Reading &reading : readings) {
        if (likely.size() == 3 || (clean && best.weight.score - reading.weight.score >= kMargin)) break;
        if (someClean && reading.weight.strange > 0) continue;
        likely.push_back(&reading);
    }
    const std::vector<std::string> samples = Samples(likely);
    for (std::size_t i = 0; i < likely.size(); ++i) {
        // Without the byte order mark, --cue-charset reads the whole sheet
        // in the code page, so it names no mixed reading.
        const bool mixed = likely[i]->around && !utf8Around;
        guess.likely.push_back((mixed ? "UTF-8 and " : "") + likely[i]->name + " (\"" + samples[i] + "\")");
        if (guess.suggestion.empty() && !mixed) guess.suggestion = likely[i]->name;
    }
    if (guess.suggestion.empty() && !likely.empty()) guess.suggestion = likely[0]->name;
    return guess;
}

}  // namespace host
