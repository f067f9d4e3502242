// Template requests: the event picks a node of the events/templates tree, the node names the
// template, the template is rendered line by line with its references filled in, and every event
// a rendered line refers to is learnt under that node. Without a template the answer is a small
// form that assigns one on the spot.

#include "server/TemplateRequest.h"
#include "language/UiTexts.h"
#include "server/FileCache.h"
#include "server/PageText.h"
#include "server/RequestLogging.h"
#include "server/RequestSafety.h"
#include "server/ServerPages.h"
#include "server/StaticFiles.h"
#include "server/TemplateReferences.h"
#include "state/PathText.h"
#include "state/TextEdits.h"
#include "state/VariableReferences.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pelotest {

namespace {

constexpr std::string_view kAssignedSeparator = " (";

// Bytes that Trim removes at both ends of a discovered event: blanks and control characters.
std::string_view trimmed(std::string_view text) {
    return trimIf(text, [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// The template part of a node text (before its first " ("; empty when it has none), with
// backslashes of settings written on Windows turned into the native separator.
std::string templatePart(std::string_view nodeText) {
    const std::size_t separator = nodeText.find(kAssignedSeparator);
    std::string part(separator == std::string_view::npos ? std::string_view{}
                                                         : nodeText.substr(0, separator));
    std::replace(part.begin(), part.end(), '\\', '/');
    return part;
}

} // namespace

std::string discoveredEvent(std::string_view line, std::string_view parameterName) {
    if (parameterName.empty())
        return {};
    const std::size_t at = line.find(parameterName);
    if (at == std::string_view::npos)
        return {};
    std::string_view s = trimmed(line.substr(at + parameterName.size()));
    if (const std::size_t equals = s.find('='); equals != std::string_view::npos) {
        s = trimmed(s.substr(equals + 1));
        if (const std::size_t amp = s.find('&'); amp != std::string_view::npos)
            s = trimmed(s.substr(0, amp));
        if (!s.empty() && s.front() == '"')
            s = trimmed(s.substr(1));
        if (const std::size_t quote = s.find('"'); quote != std::string_view::npos && quote >= 1)
            s = trimmed(s.substr(0, quote));
    }
    return std::string(s);
}

bool learnEvent(AppState& state, TreeNode& matchNode, std::string_view line) {
    return learnDiscoveredEvent(state, matchNode, discoveredEvent(line, state.settings.event));
}

bool learnDiscoveredEvent(AppState& state, TreeNode& matchNode, std::string_view event) {
    // A page may name ever new events (through a value, say): past the tree's limits they are
    // not learnt, and the page is answered all the same.
    if (event.empty() || state.tree.learnChild(matchNode, event) != EventTree::Learnt::Added)
        return false;
    state.treeChanged = true;
    return true;
}

TemplateMatch resolveTemplate(AppState& state, const std::string& templateFolder,
                              std::string_view event) {
    TemplateMatch match;
    std::string relative;
    if (event.empty()) {
        match.node = state.tree.first();
        if (!match.node)
            return match;
        relative = match.node->text;
        std::replace(relative.begin(), relative.end(), '\\', '/');
    } else {
        match.node = state.tree.firstMatch(event);
        if (!match.node)
            return match;
        relative = templatePart(match.node->text);
    }
    // A template is rendered only from inside the templates folder: node texts are relative
    // names that the tree's pages change over HTTP, so "../" must not reach other files, and a
    // link in the folder may lead within it, never out (as for static files).
    const std::string path = templateFolder + "/" + relative;
    if (!relative.empty() && !climbsOut(relative) &&
        resolveFileInside(templateFolder, path, &match.identity))
        match.templatePath = path;
    return match;
}

// A template as every request renders it, made once per file version (and again when the markers
// or the event parameter change): the lines without a reference joined into literal runs, the
// events those lines name, and the references of the other lines.
struct ParsedTemplate {
    static constexpr std::size_t kNoLine = SIZE_MAX;
    // What it was made for.
    std::string before, after, eventParameter;
    // The literal runs one after the other, every line followed by CR LF; a run that follows a
    // line with references begins with that line's CR LF.
    std::string literal;
    std::vector<std::string> events; // named by literal lines, in line order
    std::vector<TextReferences> lines;
    // In line order: the literal run up to literalEnd, the events up to eventsEnd, then the
    // line at index line (kNoLine: none, the end of the template).
    struct Step {
        std::size_t literalEnd = 0;
        std::size_t eventsEnd = 0;
        std::size_t line = kNoLine;
    };
    std::vector<Step> steps;
    std::size_t writtenBytes = 0; // of the lines as written, with their line ends
    // Where each line's names stood in the variables list at its last expansion. The state lock
    // does not cover them: a process may hold several states that render the same file.
    mutable std::mutex rememberedMutex;
    mutable std::vector<RememberedRows> remembered; // one per line
    mutable PlannedLookup lookup;                   // its room, kept for the next request
};

namespace {

std::shared_ptr<const ParsedTemplate> parseTemplate(const std::vector<std::string>& lines,
                                                    const Settings& settings) {
    auto parsed = std::make_shared<ParsedTemplate>();
    parsed->before = settings.varBefore;
    parsed->after = settings.varAfter;
    parsed->eventParameter = settings.event;
    for (const std::string& line : lines) {
        parsed->writtenBytes += line.size() + 2;
        TextReferences references = findTextReferences(line, settings.varBefore, settings.varAfter);
        if (references.kind == TextReferences::Kind::Literal) {
            parsed->literal += line;
            parsed->literal += "\r\n";
            if (std::string event = discoveredEvent(line, settings.event); !event.empty())
                parsed->events.push_back(std::move(event));
            continue;
        }
        parsed->steps.push_back(
            {parsed->literal.size(), parsed->events.size(), parsed->lines.size()});
        parsed->lines.push_back(std::move(references));
        parsed->literal += "\r\n";
    }
    parsed->remembered.resize(parsed->lines.size());
    parsed->steps.push_back(
        {parsed->literal.size(), parsed->events.size(), ParsedTemplate::kNoLine});
    return parsed;
}

// The file as a template for the markers and event parameter of the moment.
std::shared_ptr<const ParsedTemplate> parsedTemplateOf(const CachedFile& file,
                                                       const Settings& settings) {
    const std::lock_guard lock(file.templateMutex);
    const std::shared_ptr<const ParsedTemplate>& kept = file.parsedTemplate;
    if (!kept || kept->before != settings.varBefore || kept->after != settings.varAfter ||
        kept->eventParameter != settings.event)
        file.parsedTemplate = parseTemplate(file.lines, settings);
    return file.parsedTemplate;
}

} // namespace

RenderedTemplate renderTemplate(AppState& state, Host& host, TreeNode& matchNode,
                                const std::string& templatePath, const FileIdentity* identity) {
    const std::shared_ptr<const CachedFile> file = FileCache::shared().get(templatePath, identity);
    // Gone since it was resolved, or no longer a regular file (a FIFO is never waited for):
    // answered like a template that cannot be read.
    if (!file)
        throw std::runtime_error("Cannot read file " + templatePath);
    const std::shared_ptr<const ParsedTemplate> parsed = parsedTemplateOf(*file, state.settings);
    RenderedTemplate rendered;
    // The title for the log comes from the template as stored, not as rendered.
    if (isPageFile(templatePath))
        rendered.title = file->title;
    std::string& body = rendered.body;
    body.reserve(parsed->writtenBytes + parsed->writtenBytes / 4);
    // Another state rendering the same file at this moment finds its rows itself.
    const std::unique_lock rememberedLock(parsed->rememberedMutex, std::try_to_lock);
    const auto rememberedRows = [&](std::size_t line) {
        return rememberedLock.owns_lock() ? &parsed->remembered[line] : nullptr;
    };
    PlannedLookup ownLookup;
    PlannedLookup& lookup = rememberedLock.owns_lock() ? parsed->lookup : ownLookup;
    std::size_t literalAt = 0;
    std::size_t eventAt = 0;
    const std::string_view eventParameter = parsed->eventParameter;
    try {
        for (const ParsedTemplate::Step& step : parsed->steps) {
            body.append(parsed->literal, literalAt, step.literalEnd - literalAt);
            literalAt = step.literalEnd;
            for (; eventAt < step.eventsEnd; ++eventAt)
                if (learnDiscoveredEvent(state, matchNode, parsed->events[eventAt]))
                    host.treeChanged(); // one update of the tree per line
            if (step.line == ParsedTemplate::kNoLine)
                continue;
            const TextReferences& line = parsed->lines[step.line];
            const std::size_t start = body.size();
            if (!appendPlannedExpansion(state, &host, line, body, lookup,
                                        rememberedRows(step.line)))
                body += expandReferences(state, host, line.text);
            // A line that lacks the first byte of the event parameter names no event.
            const std::string_view expanded = std::string_view(body).substr(start);
            if (!eventParameter.empty() &&
                expanded.find(eventParameter.front()) != std::string_view::npos &&
                learnEvent(state, matchNode, expanded))
                host.treeChanged();
            // Its CR LF begins the next literal run.
        }
    } catch (...) {
        state.variables.placeUsedRows();
        throw;
    }
    // The rows the references marked move once, all together.
    state.variables.placeUsedRows();
    return rendered;
}

void answerTemplateRequest(Exchange& ex) {
    const TemplateMatch match = resolveTemplate(ex.state, ex.paths.templateFolder, ex.event);
    if (!match.templatePath) {
        ex.response.contentType = "text/html";
        ex.response.body = unassignedEventPage(ex);
        // Its form assigns a template: no other site may frame it to catch clicks.
        addFrameGuard(ex.response);
        addLogEntry(ex, {LogKind::Unassigned, "", ex.event,
                         ex.texts.text(UiText::LogNoTemplateAssigned), ""});
        return;
    }

    const std::string& path = *match.templatePath;
    if (ex.event.empty()) {
        const std::string bare(fileNamePart(path));
        if (match.node->text != bare) {
            match.node->text = bare;
            ex.state.treeChanged = true;
            ex.host.treeChanged();
        }
    }
    RenderedTemplate rendered =
        renderTemplate(ex.state, ex.host, *match.node, path, &match.identity);
    ex.response.contentType = "text/html";
    ex.response.body = std::move(rendered.body);
    addLogEntry(ex, {LogKind::Template, std::string(fileNamePart(path)), ex.event,
                     std::move(rendered.title), path});
}

} // namespace pelotest
