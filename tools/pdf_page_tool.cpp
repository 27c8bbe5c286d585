// tool: renders one page of a PDF file to a PNG picture for the preview pane.
//
//   tool "FILE" -f FIRST -l LAST "ROOT"
//
// Writes page FIRST (1-based) as ROOT-NNNNNN.png, NNNNNN being the page number
// in six digits. Only the first page asked for is drawn: the preview shows one.
// Exit status 0 when the picture was written, 1 on a bad command line, 2 when
// the document or page cannot be read, 3 when the picture cannot be written.
#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Wide enough to read a page of text in the pane, small enough to stay quick.
constexpr double kDotsPerInch = 96.0;

int Usage() {
    std::fprintf(stderr, "usage: tool FILE [-f FIRST] [-l LAST] ROOT\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string file;
    std::string root;
    int first = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "-f" || arg == "-l") && i + 1 < argc) {
            int value = std::atoi(argv[++i]);
            if (value < 1) return Usage();
            if (arg == "-f") first = value;
        } else if (file.empty()) {
            file = arg;
        } else if (root.empty()) {
            root = arg;
        } else {
            return Usage();
        }
    }
    if (file.empty() || root.empty()) return Usage();

    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(file));
    if (!document || document->is_locked()) {
        std::fprintf(stderr, "tool: cannot read %s\n", file.c_str());
        return 2;
    }
    if (first > document->pages()) {
        std::fprintf(stderr, "tool: %s has %d pages\n", file.c_str(), document->pages());
        return 2;
    }
    std::unique_ptr<poppler::page> page(document->create_page(first - 1));
    if (!page) return 2;
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    poppler::image picture = renderer.render_page(page.get(), kDotsPerInch, kDotsPerInch);
    if (!picture.is_valid()) {
        std::fprintf(stderr, "tool: page %d of %s cannot be drawn\n", first, file.c_str());
        return 2;
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-%06d.png", first);
    if (!picture.save(root + suffix, "png")) {
        std::fprintf(stderr, "tool: cannot write %s%s\n", root.c_str(), suffix);
        return 3;
    }
    return 0;
}
