/*
 * fuzz_panelfile.cpp -- libFuzzer target for the panel-file reader: any
 * bytes give either a description that keeps every promise of panelfile.h
 * (texts within the library's buffers, current items inside their lists)
 * or UIE_FILE_MALFORMED with nothing filled in; never a crash.
 */
#include <QByteArray>

#include <cstdint>
#include <cstdlib>

#include "panelfile.h"
#include "platform.h"

static void Require(bool promise)
{
    if (!promise)
        abort();
}

static void CheckControl(const ControlDesc &c)
{
    Require(c.label.size() < PLATFORM_LABEL_SIZE);
    Require(c.text.size() < PLATFORM_LABEL_SIZE);
    Require(c.constant.size() < PLATFORM_NAME_SIZE && c.callback.size() < PLATFORM_NAME_SIZE);
    Require(c.maxLength >= 0 && c.maxLength < PLATFORM_STRING_SIZE);
    Require(c.index >= -1 && c.index < (int)c.items.size());
    for (const ItemDesc &item : c.items) {
        Require(item.label.size() < PLATFORM_LABEL_SIZE);
        Require(item.text.size() < PLATFORM_STRING_SIZE);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<PanelDesc> panels;
    QByteArray json(reinterpret_cast<const char *>(data), (qsizetype)size);
    int result = ParsePanelFile(json, &panels, nullptr);

    if (result != 0) {
        Require(result == UIE_FILE_MALFORMED && panels.empty());
        return 0;
    }
    for (const PanelDesc &p : panels) {
        Require(p.title.size() < PLATFORM_TITLE_SIZE);
        Require(p.closeControl == 0 || (p.closeControl >= 2 && p.closeControl < (int)p.controls.size() + 2));
        for (const ControlDesc &c : p.controls)
            CheckControl(c);
        Require(FindPanelDesc(panels, p.number) != nullptr);
    }
    return 0;
}
