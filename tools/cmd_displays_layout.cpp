// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool commands for page layouts: write the default layout, describe a layout.
#include <cstdio>

#include "core/apppaths.h"
#include "displays/displayview.h"
#include "tools/tool_command.h"

namespace {

int LayoutDefault(const QStringList& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: navora-tool layout-default OUTPUT\n");
        return 2;
    }
    CDisplayViewArrangementSet set;
    CDisplayViewArrangementSet::BuildDefaultLayout(set);
    if (!set.WriteFileWithMagic(args[0].toStdString())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[0]));
        return 1;
    }
    return 0;
}

void Describe(const CDisplayView& page) {
    const auto& a = page.Arrangement();
    std::printf("  page \"%s\": %d rows x %d columns, %zu items\n", page.getPageName().c_str(), a.rows, a.cols,
                a.settings.size());
    for (auto& s : a.settings) {
        std::printf("    %-40s row %d col %d, %d x %d cells, layer %d%s\n", s->TypeName().c_str(), s->row, s->col,
                    s->height, s->width, s->layer, s->locked ? ", locked" : "");
    }
}

int LayoutInfo(const QStringList& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: navora-tool layout-info FILE.pstf|FILE.dvpage\n");
        return 2;
    }
    const std::string path = args[0].toStdString();
    if (FileExtension(path) == "dvpage") {
        CDisplayView page;
        if (!page.ReadFile(path, {}, CDisplayViewArrangementSet::kPageFileMagic)) {
            std::fprintf(stderr, "Reading the .dvpage file failed: %s\n", path.c_str());
            return 1;
        }
        Describe(page);
        return 0;
    }
    CDisplayViewArrangementSet set;
    if (!set.ReadFileWithMagic(path)) {
        std::fprintf(stderr, "cannot read layout %s\n", path.c_str());
        return 1;
    }
    for (auto& ps : set.pageSets) {
        std::printf("page set %s (%d x %d hundredths of an inch), %zu pages\n", ps->getScreenName().c_str(), ps->width,
                    ps->height, ps->pages.size());
        for (auto& p : ps->pages) Describe(*p);
    }
    return 0;
}

ToolCommandRegistry::Registrar layoutDefault({"layout-default", "OUTPUT",
                                              "write the page layout a new user starts with", LayoutDefault});
ToolCommandRegistry::Registrar layoutInfo({"layout-info", "FILE", "list the pages and items of a layout or page file",
                                           LayoutInfo});

}  // namespace
