#include "language/UiTexts.h"

#include "state/FileIdentity.h"
#include "state/TextCase.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace pelotest {

// A library as read from its file, with every text of the built-in table's ids already
// converted and finished (empty where the library has none).
struct LanguageLibrary {
    explicit LanguageLibrary(PeResources read);
    PeResources resources;
    std::array<std::string, kUiTextCount + 1> texts;
};

namespace {

// The built-in German texts as Windows-1252 bytes, indexed by id; id 47 is not used. "#13"
// marks a line break; "%1" and "%2" are filled by formatUiText. Texts 67 and 68 are script code
// and 75 and 107 are shown by scripts, so their backslashes are part of the text.
constexpr std::array<std::string_view, kUiTextCount + 1> kBuiltInTexts{
    /* 0 */ "",
    /* 1 */ "Testumgebung f\xFCr Pelorin-Templates",
    /* 2 */ "Allgemein",
    /* 3 */ "Log",
    /* 4 */ "Einstellungen",
    /* 5 */ "Events/Templates",
    /* 6 */ "Variablen",
    /* 7 */ "Variable",
    /* 8 */ "Wert",
    /* 9 */ "Diese Software ist ein Produkt der",
    /* 10 */ "Pelorin ist ein eingetragenes Warenzeichen der Pelorin Software AG.",
    /* 11 */ "Datei",
    /* 12 */ "Event",
    /* 13 */ "Titel",
    /* 14 */ "Templates",
    /* 15 */ "Ordner (Es k\xF6nnen auch Variablen verwendet werden, z.B. \"c:\\/(Test)\")",
    /* 16 */ "Virtueller Ordner",
    /* 17 */ "Statische Seiten",
    /* 18 */ "Startordner",
    /* 19 */ "Startseite",
    /* 20 */ "Parameter (z.B. test=1&&test2=abc)",
    /* 21 */ "Allgemeines",
    /* 22 */ "HTTP-Port",
    /* 23 */ "Variablen automatisch sortieren",
    /* 24 */ "Log-Begrenzung",
    /* 25 */ "Log Speichern",
    /* 26 */ "Remote Template-/Site-Editor",
    /* 27 */ "Reloadzeit",
    /* 28 */
    "Wenn eine Startseite angegeben wurde, wird beim Aufruf dieser Seite ein PopUp-Fenster mit "
    "einer Liste der zuletzt aufgerufenen Seiten ge\xF6"
    "ffnet. Beim Anklicken einer dieser Seiten wird der Editor geladen.",
    /* 29 */ "Bearbeiten",
    /* 30 */ "L\xF6schen",
    /* 31 */ "Zuordnen",
    /* 32 */ "Alle ausklappen",
    /* 33 */ "Alle zuklappen",
    /* 34 */ "Eigenschaften",
    /* 35 */ "Log L\xF6schen",
    /* 36 */ "Anzeigen",
    /* 37 */ "Starten",
    /* 38 */ "Stoppen",
    /* 39 */ "Beenden",
    /* 40 */ "Bereit",
    /* 41 */ "Aktiv",
    /* 42 */ "Template w\xE4hlen",
    /* 43 */ "Bitte w\xE4hlen Sie das zu diesem Event geh\xF6rende Template",
    /* 44 */ "OK",
    /* 45 */ "Abbrechen",
    /* 46 */ "Bitte geben Sie hier den neuen Wert ein.",
    /* 47 */ "",
    /* 48 */ "Tree laden...",
    /* 49 */ "Log laden...",
    /* 50 */ "Variablen laden...",
    /* 51 */ "Einstellungen sichern...",
    /* 52 */ "Variablen sichern...",
    /* 53 */ "Tree sichern...",
    /* 54 */ "Log sichern...",
    /* 55 */ "??.??.????&nbsp;??:??:??",
    /* 56 */ "??&nbsp;Byte",
    /* 57 */ "dd\".\"mm\".\"yyyy hh\":\"nn\":\"ss",
    /* 58 */ "&nbsp;",
    /* 59 */ "&nbsp;Byte",
    /* 60 */ "Ge&auml;ndert&nbsp;am&nbsp;",
    /* 61 */ "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;",
    /* 62 */ "Start",
    /* 63 */ "Dynamische Sites:",
    /* 64 */ "Statische Sites:",
    /* 65 */ "Aktualisieren",
    /* 66 */ "Sek.",
    /* 67 */ "Soll die Variable \\\"\"+name+\"\\\" wirklich gel\xF6scht werden?",
    /* 68 */
    "Bitte geben Sie hier den neuen Wert f\xFCr \\\"\" + name+\"\\\" ein.\\n(@Delete = Variable "
    "entfernen)",
    /* 69 */ "Dateien",
    /* 70 */ "Seite bearbeiten",
    /* 71 */ "Template bearbeiten",
    /* 72 */ "Zeile",
    /* 73 */ "Spalte",
    /* 74 */ "Wollen Sie die \xC4nderungen Speichern?",
    /* 75 */ "Die Datei wurde nicht ver\xE4ndert!\\n\\nWollen Sie die Datei dennoch speichern?",
    /* 76 */ "Fehler!",
    /* 77 */ "Speichern",
    /* 78 */ "Schliessen",
    /* 79 */ "Die Datei <b>%1</b> wurde nicht gefunden!",
    /* 80 */
    "Zur\xFC"
    "ck",
    /* 81 */ "Gespeichert",
    /* 82 */ "Die Datei <b>%1</b> wurde gespeichert.",
    /* 83 */ "OK",
    /* 84 */ "Einstellungen laden...",
    /* 85 */ "Dem Event <b>%1</b> ist kein Template zugeordnet!",
    /* 86 */ "Es ist kein Einstiegstemplate zugeordnet!",
    /* 87 */ "Zuordnen",
    /* 88 */ "kein Template zugeordnet",
    /* 89 */ "Herzlich Willkommen auf der Testumgebung f\xFCr Pelorin-Templates!",
    /* 90 */
    "Sie haben keine Seite angegeben und es wurde bisher auch keine Startseite festgelegt.",
    /* 91 */ "Sie k&ouml;nnen eine Startseite festlegen:",
    /* 92 */
    "\xDC"
    "bernehmen",
    /* 93 */ "Datei nicht gefunden! - Error 404",
    /* 94 */ "Die Datei <b>%1</b> wurde nicht gefunden!",
    /* 95 */ "Dynamischer Pfad",
    /* 96 */ "Bitte \xE4ndern Sie ggf. den Wert der Variablen \"%1\".",
    /* 97 */ "Die Datei#13%1#13wurde nicht gefunden!",
    /* 98 */ "Dynamischer Pfad",
    /* 99 */ "Bitte \xE4ndern Sie ggf. den Wert der Variablen \"%1\".",
    /* 100 */ "Soll der Eintrag \"%1\" wirklich gel\xF6scht werden?",
    /* 101 */ "Bitte w\xE4hlen sie den Ordner wo sich die statischen Websites befinden",
    /* 102 */ "Bitte w\xE4hlen sie den Ordner wo sich die Templates befinden",
    /* 103 */ "Es wurden Variablen im Pfad gefunden, welche durch ihre Werte ersetzt wurden!",
    /* 104 */ "Soll das Log wirklich gel\xF6scht werden?",
    /* 105 */ "Die Datei#13%1#13wurde nicht gefunden!",
    /* 106 */ "Dem Event \"%1\" ist kein Template zugeordnet.",
    /* 107 */
    "Der angezeigte Pfad ist nicht statisch, da er eine Variable enth\xE4llt.\\n\\nWenn die "
    "entspr. Variable ge\xE4ndert wurde, wird der Pfad (nach einem Reload dieser Seite) angepasst.",
    /* 108 */ "Info",
    /* 109 */ "Sie k&ouml;nnen in das %1Kontrollzentrum%2 wechseln",
    /* 110 */ "https://www.pelorin.example/",
    /* 111 */
    "Mit Hilfe dieses Programmes k&ouml;nnen Sie an Templates von Pelorin Anwendungen auch <u>ohne "
    "Zugriff auf den Pelorin Server</u> weiter entwickeln.<br>Sie ben&ouml;tigen lediglich lokale "
    "Kopien der entsprechenden Sites und Templates.",
    /* 112 */ "OK",
    /* 113 */ "Abbrechen",
    /* 114 */ "Ja",
    /* 115 */ "Nein",
    /* 116 */ "Warnung",
    /* 117 */ "Fehler",
    /* 118 */ "Information",
    /* 119 */ "Best\xE4tigung",
    /* 120 */ "Template w\xE4hlen",
    /* 121 */ "Bitte w\xE4hlen Sie das zu diesem Event geh\xF6rende Template.",
    /* 122 */ "Sprache w\xE4hlen",
    /* 123 */ "Deutsch (standard)",
    /* 124 */ "Sprache laden...",
    /* 125 */ "Download von Sprachpaketen",
    /* 126 */ "Schliessen",
    /* 127 */ "Sprachresource extrahieren (Delphi)",
    /* 128 */ "Wohin soll die Resourcendatei gespeichert werden?",
    /* 129 */ "DE",
    /* 130 */
    "Die Datei %1 existiert schon, wollen sie diese nun \xFC"
    "berschreiben?",
    /* 131 */ "%1 - wurde erfolgreich gespeichert",
    /* 132 */
    "Bitte warten...#13#13Achtung: Zum Anzeigen dieser Seite ben\xF6tigen Sie eine Verbindung zum "
    "Internet!",
    /* 133 */
    "Die Einstellungsdatei %1 kann nicht benutzt werden (%2). Sie bleibt unver\xE4ndert, das "
    "Programm wird beendet.",
    /* 134 */
    "Die Einstellungsdatei %1 ist schreibgesch\xFCtzt (%2): \xC4nderungen werden nicht "
    "gespeichert.",
    /* 135 */ "Offene Seiten bei Datei\xE4nderungen sofort neu laden (Live-Reload)",
    /* 136 */
    "Die Datei#13%1#13konnte nicht ge\xF6"
    "ffnet werden: Der Desktop hat kein Programm f\xFC"
    "r diesen Dateityp.",
    "Der Port %1 wird schon von einem anderen Programm benutzt. Beenden Sie es oder w\xE4"
    "hlen Sie einen anderen Port.",
    /* 138 */
    "Ports unter 1024 darf nur ein Programm mit Administratorrechten \xF6"
    "ffnen. W\xE4"
    "hlen Sie einen Port ab 1024, z.B. 8080.",
    /* 139 */ "Der Server kann auf Port %1 nicht gestartet werden.",
    /* 140 */ "Pfad",
    /* 141 */
    "Gr\xF6"
    "\xDF"
    "e",
    /* 142 */ "Typ",
    /* 143 */ "Rechte",
    /* 144 */ "Verweis auf",
    /* 145 */ "Erstellt",
    /* 146 */
    "Ge\xE4"
    "ndert",
    /* 147 */ "Gelesen",
    /* 148 */ "%1 (%2 Bytes)",
    /* 149 */
    "F\xFCr diesen Lauf mit --live-reload eingeschaltet; die gespeicherte Einstellung bleibt, "
    "wie sie ist.",
    /* 150 */ "Live-Reload: %1 Browser verbunden",
    /* 151 */ "Mit meiner Desktop-Sitzung starten",
    /* 152 */ "Der Port wird von %1 belegt.",
    /* 153 */
    "So fangen Sie an:#13Tragen Sie im Register Einstellungen den Ordner der Vorlagen und den "
    "Ordner der Site ein, starten Sie den Server (F5) und rufen Sie die Site im Browser auf. Die "
    "Events der Vorlagen erscheinen dann hier.",
    /* 154 */ "Filtern",
    /* 155 */
    "Im Browser \xF6"
    "ffnen",
    /* 156 */ "Zeit",
    /* 157 */ "Abfrage",
    /* 158 */
    "Die Texte %1 dieser Sprachbibliothek enthalten Auszeichnungen, die den eingebauten Texten "
    "fehlen; an ihrer Stelle stehen die eingebauten Texte.",
};

// One looked-up text holds at most this many characters; longer library strings are cut.
constexpr std::size_t kMaxUiTextLength = 259;

std::string finishText(std::string text) {
    if (text.size() > kMaxUiTextLength) {
        text.resize(kMaxUiTextLength);
    }
    return replaceAll(text, "#13", "\r");
}

// The text of number in the library, converted and finished; empty when it has none.
std::string libraryText(const PeResources& resources, int number) {
    return finishText(windows1252FromUtf16(resources.string(static_cast<std::uint32_t>(number))));
}

// A language library is named by its bare file name; anything that could reach another folder
// (a separator, "." or "..") or that a path cannot hold is not a library name.
bool isBareFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::atomic<std::uint64_t> libraryReads{0};

// The libraries read so far, by path, each with the identity its file had before it was read. A
// lookup that finds its file unchanged takes the texts from here; any change reads it anew. The
// stat comes before the read, so texts are never newer-looking than what was read: a change in
// between is seen by the next lookup.
class LibraryCache {
  public:
    std::shared_ptr<const LanguageLibrary> get(const std::filesystem::path& file,
                                               const FileIdentity& identity) {
        {
            const std::lock_guard lock(mutex_);
            if (const auto it = entries_.find(file.string());
                it != entries_.end() && it->second.identity == identity)
                return it->second.library;
        }
        libraryReads.fetch_add(1, std::memory_order_relaxed);
        std::shared_ptr<const LanguageLibrary> library;
        if (std::optional<PeResources> resources = PeResources::fromFile(file))
            library = std::make_shared<const LanguageLibrary>(std::move(*resources));
        const std::lock_guard lock(mutex_);
        // File times come from a clock that advances in ticks of a few milliseconds: a file
        // changed within the last second could change again without a visible difference, so
        // it is kept only once it has settled (and read anew until then).
        if (!identity.settled()) {
            entries_.erase(file.string());
            return library;
        }
        // A handful of libraries are in use at a time; names that never recur must not pile up.
        if (entries_.size() >= kMaxEntries && !entries_.contains(file.string()))
            entries_.clear();
        entries_[file.string()] = {identity, library};
        return library;
    }

  private:
    static constexpr std::size_t kMaxEntries = 16;
    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const LanguageLibrary> library;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

LibraryCache& libraryCache() {
    static LibraryCache cache;
    return cache;
}

// The library named languageDll from the first folder that holds a regular file of that name;
// null when the name is no library name, no folder holds it, or the file cannot be read.
std::shared_ptr<const LanguageLibrary> readLibrary(std::span<const std::filesystem::path> folders,
                                                   std::string_view languageDll) {
    if (!isBareFileName(languageDll)) {
        return nullptr;
    }
    for (const std::filesystem::path& folder : folders) {
        const std::filesystem::path file = folder / languageDll;
        if (const std::optional<FileIdentity> identity = regularFileIdentity(file.string()))
            return libraryCache().get(file, *identity);
    }
    return nullptr;
}

// The text of id from the library (or the built-in one when the library lacks a non-empty
// string of that id).
std::string textOf(const std::shared_ptr<const LanguageLibrary>& library, UiText id) {
    const int number = uiTextId(id);
    if (library && number >= 0 && number <= kUiTextCount) {
        const std::string& text = library->texts[static_cast<std::size_t>(number)];
        if (!text.empty()) {
            return text;
        }
    } else if (library && number >= 0 && number <= 0xFFFF) {
        std::string text = libraryText(library->resources, number);
        if (!text.empty() && !addsMarkup(text, "")) {
            return text;
        }
    }
    return loadBuiltInUiText(id);
}

} // namespace

LanguageLibrary::LanguageLibrary(PeResources read) : resources(std::move(read)) {
    for (int number = 0; number <= kUiTextCount; ++number) {
        std::string text = libraryText(resources, number);
        // A text that brings markup of its own is not used: the built-in one stands.
        if (!addsMarkup(text, loadBuiltInUiText(UiText{number})))
            texts[static_cast<std::size_t>(number)] = std::move(text);
    }
}

std::vector<std::string_view> markupOf(std::string_view text) {
    constexpr std::string_view kQuotedSeparator = "\"\"";
    constexpr std::size_t npos = std::string_view::npos;
    std::vector<std::string_view> pieces;
    // The stretch from at to the first end mark after it (or to the end of the text).
    const auto upTo = [&](std::size_t at, std::string_view endMarks) {
        const std::size_t end = text.find_first_of(endMarks, at + 1);
        return end == std::string_view::npos ? text.size() : end + 1;
    };
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at + 1;
        switch (text[at]) {
        case '<':
            end = upTo(at, ">");
            break;
        case '&':
            end = upTo(at, ";");
            break;
        case '\\':
            end = std::min(at + 2, text.size());
            break;
        case '"':
            // Up to the next quote that no backslash escapes: in a script string that is what
            // the text runs as code (the "+name+" of a question), in a page a quoted name.
            for (end = at + 1; end < text.size() && text[end] != '"'; ++end)
                if (text[end] == '\\')
                    ++end;
            end = std::min(end + 1, text.size());
            // A separator quoted in a date format ("." or ":") is no markup of its own: any such
            // pair stands for any other.
            if (end - at >= 2 && text[end - 1] == '"' &&
                text.substr(at + 1, end - at - 2).find_first_not_of(" .,:/-") == npos) {
                pieces.emplace_back(kQuotedSeparator);
                at = end;
                continue;
            }
            break;
        case '\'':
            break;
        default:
            ++at;
            continue;
        }
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    return pieces;
}

bool addsMarkup(std::string_view translated, std::string_view builtIn) {
    std::vector<std::string_view> allowed = markupOf(builtIn);
    std::sort(allowed.begin(), allowed.end());
    for (std::string_view piece : markupOf(translated)) {
        const auto found = std::lower_bound(allowed.begin(), allowed.end(), piece);
        if (found == allowed.end() || *found != piece)
            return true;
        allowed.erase(found); // each piece of the built-in text counts once
    }
    return false;
}

std::vector<int> textsWithAddedMarkup(const PeResources& library) {
    std::vector<int> ids;
    for (int number = 1; number <= kUiTextCount; ++number)
        if (addsMarkup(libraryText(library, number), loadBuiltInUiText(UiText{number})))
            ids.push_back(number);
    return ids;
}

std::string loadBuiltInUiText(UiText id) {
    const int number = uiTextId(id);
    if (number < 1 || number > kUiTextCount) {
        return {};
    }
    return finishText(std::string(kBuiltInTexts[static_cast<std::size_t>(number)]));
}

std::string loadUiText(std::span<const std::filesystem::path> folders, std::string_view languageDll,
                       UiText id) {
    return textOf(readLibrary(folders, languageDll), id);
}

std::string loadUiText(const AppState& state, UiText id) {
    return loadUiText(state.languageFolders, state.settings.languageDll, id);
}

std::string formatUiText(const AppState& state, UiText id, std::string_view arg1) {
    return replaceAll(loadUiText(state, id), "%1", arg1);
}

std::string formatUiText(const AppState& state, UiText id, std::string_view arg1,
                         std::string_view arg2) {
    return replaceAll(formatUiText(state, id, arg1), "%2", arg2);
}

std::string LanguageTexts::text(UiText id) const {
    if (!read_) {
        library_ = readLibrary(folders_, languageDll_);
        read_ = true;
    }
    return textOf(library_, id);
}

std::string LanguageTexts::format(UiText id, std::string_view arg1) const {
    return replaceAll(text(id), "%1", arg1);
}

std::string LanguageTexts::format(UiText id, std::string_view arg1, std::string_view arg2) const {
    return replaceAll(format(id, arg1), "%2", arg2);
}

std::uint64_t languageLibraryReads() {
    return libraryReads.load(std::memory_order_relaxed);
}

} // namespace pelotest
