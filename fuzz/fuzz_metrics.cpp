/*
 * fuzz_metrics.cpp -- libFuzzer target for the metrics page
 * (monitor/metrics.h): chambers with any names, answers with any bytes,
 * kept as the poller keeps them, and the page they render read by a strict
 * parser of the Prometheus text format 0.0.4. One byte of a chamber once
 * put invalid UTF-8 into a label, and Prometheus refused the whole scrape:
 * whatever the chambers send, the page must stay one that Prometheus takes.
 *
 * Input layout: byte 0 gives the chambers (1 to 4); then per chamber a
 * length byte (up to 31) and its name's bytes, and the same for its
 * address; then records to the end: a byte whose low two bits choose the
 * chamber and the rest the command, a length byte, and the answer's bytes
 * (an empty answer is a timeout).
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "answer_frame.h"
#include "metrics.h"

namespace {

const char *const kCommands[] = {"A0", "A4", "Aa", "E0", "E3", "G0", "U0", "U2", "S", "O", "T",  "L",
                                 "P",  "C",  "F",  "D",  "I",  "H",  "M",  "R",  "o", "s", "a0", "i"};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

[[noreturn]] void Fail(const char *what, std::string_view line) {
    fprintf(stderr, "fuzz_metrics: %s in the line: %.*s\n", what, static_cast<int>(line.size()), line.data());
    abort();
}

/* The input, read from the front; bytes past its end read as 0. */
struct Input {
    const uint8_t *data;
    size_t size, at = 0;

    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    QByteArray bytes(size_t n) {
        n = n < size - at ? n : size - at;
        QByteArray out(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(n));
        at += n;
        return out;
    }
};

/* Whether text is valid UTF-8: no stray continuation byte, no sequence cut
 * short, no overlong form, no surrogate, nothing beyond U+10FFFF. Written
 * apart from the renderer's own check, so that the two cannot share a
 * mistake. */
bool ValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > text.size())
            return false;
        uint32_t code = n == 1 ? c : c & (0xFF >> (n + 1));
        for (size_t k = 1; k < n; k++) {
            unsigned char b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            code = code << 6 | (b & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

/* A metric name (colon true) or a label name. */
bool IsName(std::string_view s, bool colon) {
    auto letter = [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colon && c == ':');
    };
    if (s.empty() || !letter(s[0]))
        return false;
    for (char c : s)
        if (!letter(c) && !(c >= '0' && c <= '9'))
            return false;
    return true;
}

/* A sample value: a decimal float, or +Inf, -Inf, NaN. */
bool IsValue(std::string_view s) {
    if (s == "+Inf" || s == "-Inf" || s == "NaN")
        return true;
    size_t i = 0, digits = 0;
    auto skipDigits = [&] { size_t from = i; while (i < s.size() && s[i] >= '0' && s[i] <= '9') i++; return i - from; };
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        i++;
    digits = skipDigits();
    if (i < s.size() && s[i] == '.') {
        i++;
        digits += skipDigits();
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        i++;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            i++;
        if (skipDigits() == 0)
            return false;
    }
    return i == s.size();
}

/* A channel label: the protocol's channel character, a digit, or none. */
bool IsChannel(const std::string &value) {
    return value.empty() || (value.size() == 1 && value[0] >= '0' && value[0] <= '9');
}

/* Reads a page line by line and fails on the first line Prometheus would
 * refuse, or that breaks what the monitor promises of its labels. */
class PageChecker {
 public:
    void check(std::string_view page) {
        if (page.empty() || page.back() != '\n')
            Fail("a page that does not end with a line end", page);
        for (size_t from = 0; from < page.size();) {
            size_t end = page.find('\n', from);
            line(page.substr(from, end - from));
            from = end + 1;
        }
    }

 private:
    struct Family {
        bool help = false;
        std::string type;  /* empty until its TYPE line */
    };

    void line(std::string_view l) {
        if (l.substr(0, 7) == "# HELP ")
            help(l, l.substr(7));
        else if (l.substr(0, 7) == "# TYPE ")
            type(l, l.substr(7));
        else if (!l.empty() && l[0] != '#')
            sample(l);
        else
            Fail("an empty line or another comment", l);
    }

    void help(std::string_view l, std::string_view rest) {
        size_t space = rest.find(' ');
        std::string name(rest.substr(0, space));
        if (space == std::string_view::npos || !IsName(name, true))
            Fail("HELP without a metric name and a text", l);
        if (families_[name].help)
            Fail("a second HELP of one family", l);
        families_[name].help = true;
        std::string_view text = rest.substr(space + 1);
        for (size_t i = 0; i < text.size(); i++)
            if (text[i] == '\\' && (++i == text.size() || (text[i] != '\\' && text[i] != 'n')))
                Fail("an escape in HELP other than \\\\ and \\n", l);
        if (!ValidUtf8(text))
            Fail("HELP text that is not UTF-8", l);
    }

    void type(std::string_view l, std::string_view rest) {
        size_t space = rest.find(' ');
        std::string name(rest.substr(0, space));
        std::string_view kind = space == std::string_view::npos ? "" : rest.substr(space + 1);
        if (!IsName(name, true) || (kind != "counter" && kind != "gauge" && kind != "histogram"))
            Fail("TYPE without a metric name and counter, gauge or histogram", l);
        if (!families_[name].type.empty())
            Fail("a family declared twice", l);
        families_[name].type = std::string(kind);
        current_ = name;
    }

    /* name{label="value",...} value */
    void sample(std::string_view l) {
        size_t i = 0;
        while (i < l.size() && l[i] != '{' && l[i] != ' ')
            i++;
        std::string_view name = l.substr(0, i);
        if (!IsName(name, true))
            Fail("a sample without a valid metric name", l);
        std::map<std::string, std::string> labels;
        if (i < l.size() && l[i] == '{')
            i = readLabels(l, i + 1, &labels);
        if (i >= l.size() || l[i] != ' ' || !IsValue(l.substr(i + 1)))
            Fail("a sample without a single space and a float value after its labels", l);
        checkFamily(l, name, labels);
        std::string key(name);
        for (const auto &label : labels)
            key += "," + label.first + "=" + label.second;
        if (!series_.insert(key).second)
            Fail("one series twice", l);
    }

    /* The labels from l[i] on (after the '{'); the place after the '}'. */
    size_t readLabels(std::string_view l, size_t i, std::map<std::string, std::string> *labels) {
        for (;;) {
            size_t eq = l.find('=', i);
            std::string name(l.substr(i, eq == std::string_view::npos ? 0 : eq - i));
            if (!IsName(name, false) || name.substr(0, 2) == "__")
                Fail("an invalid label name", l);
            if (eq + 1 >= l.size() || l[eq + 1] != '"')
                Fail("a label value without its opening quote", l);
            size_t j = eq + 2;
            for (; j < l.size() && l[j] != '"'; j++)
                if (l[j] == '\\' && (++j == l.size() || (l[j] != '\\' && l[j] != '"' && l[j] != 'n')))
                    Fail("an escape in a label value other than \\\\, \\\" and \\n", l);
            if (j >= l.size())
                Fail("a label value without its closing quote", l);
            std::string_view value = l.substr(eq + 2, j - eq - 2);
            if (!ValidUtf8(value))
                Fail("a label value that is not UTF-8", l);
            if (!labels->emplace(name, std::string(value)).second)
                Fail("a label twice in one sample", l);
            if (++j < l.size() && l[j] == ',') {
                i = j + 1;
                continue;
            }
            if (j >= l.size() || l[j] != '}')
                Fail("labels not closed by '}'", l);
            return j + 1;
        }
    }

    /* The sample belongs to the family of the last TYPE line; a channel is
     * the protocol's channel character, a digit, or none. */
    void checkFamily(std::string_view l, std::string_view name, const std::map<std::string, std::string> &labels) {
        if (current_.empty())
            Fail("a sample before any TYPE line", l);
        const std::string &type = families_[current_].type;
        bool bucket = type == "histogram" && name == current_ + "_bucket";
        bool histogram = bucket || (type == "histogram" && (name == current_ + "_sum" || name == current_ + "_count"));
        if (histogram ? bucket != (labels.count("le") == 1) : name != current_)
            Fail("a sample outside the family of the last TYPE line", l);
        if (bucket && !IsValue(labels.at("le")))
            Fail("a bucket whose le is no float", l);
        auto channel = labels.find("channel");
        if (channel != labels.end() && !IsChannel(channel->second))
            Fail("a channel that is no digit", l);
    }

    std::map<std::string, Family> families_;
    std::string current_;
    std::set<std::string> series_;
};

/* Chambers named and addressed from the input. The index ends each name,
 * so that no two names are one label value once the bytes that are not
 * UTF-8 have been replaced. */
std::vector<monitor::ChamberStats> ReadChambers(Input &in) {
    std::vector<monitor::ChamberStats> chambers(in.byte() % 4 + 1);
    for (size_t i = 0; i < chambers.size(); i++) {
        chambers[i].name = in.bytes(in.byte() % 32) + QByteArray::number(static_cast<int>(i));
        chambers[i].address = in.bytes(in.byte() % 32);
    }
    return chambers;
}

/* Takes one answer as the poller does (Poller::completeAnswer): kept when
 * it is one to its command, else counted as invalid. */
void TakeAnswer(monitor::ChamberStats &c, const char *command, const std::vector<char> &answer, int64_t nowNs) {
    const size_t commandLength = strlen(command);
    c.commands++;
    if (answer.empty()) {
        c.timeouts++;
        c.up = false;
        return;
    }
    c.up = AnswerFits(command, commandLength, answer.data(), answer.size()) != 0;
    if (!c.up) {
        c.invalid++;
        return;
    }
    AnswerValues values;
    DecodeAnswerBody(command, commandLength, answer.data(), answer.size(), &values);
    c.answers++;
    c.roundTrip.add(static_cast<double>(answer.size()) / 1000);
    c.lastAnswerNs = nowNs;
    c.keep(values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{data, size};
    std::vector<monitor::ChamberStats> chambers = ReadChambers(in);
    monitor::MonitorStats monitor;
    int64_t now = 0;
    while (in.more()) {
        uint8_t what = in.byte();
        size_t length = in.byte();
        QByteArray bytes = in.bytes(length);
        /* A heap block of exactly the answer, so that AddressSanitizer
         * sees any read beyond it. */
        std::vector<char> answer(bytes.begin(), bytes.end());
        now += 1000000;
        TakeAnswer(chambers[what % 4 % chambers.size()], kCommands[what / 4 % kCommandCount], answer, now);
        monitor.startDelay.add(static_cast<double>(what) / 10000);
    }
    std::string page;
    monitor::RenderMetrics(chambers, monitor, now + 1000000, page);
    PageChecker().check(page);
    return 0;
}
