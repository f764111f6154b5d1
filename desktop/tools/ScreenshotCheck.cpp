// Checks that a desktop screenshot shows Stashbay's panel where an earlier one did not: a block
// of the panel's background colour, at least 150 points wide on 8 rows (the padding of a row of
// tiles), under the menu bar, that was not there before. Exit 0 when it is there, 1 when not, 2
// for unreadable files.
#include <QColor>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stashbay-screenshot-check BEFORE.png AFTER.png\n");
        return 2;
    }
    QImage before(argv[1]);
    QImage after(argv[2]);
    if (before.isNull() || after.isNull() || before.size() != after.size()) {
        std::fprintf(stderr, "stashbay-screenshot-check: cannot read two screenshots of one size\n");
        return 2;
    }
    // The background the panel's root view paints.
    const QRgb panel = qRgb(236, 236, 238);
    int rows = 0;
    int widest = 0;
    for (int y = 40; y < after.height(); ++y) {
        int run = 0;
        int best = 0;
        for (int x = 0; x < after.width(); ++x) {
            bool isNew = (after.pixel(x, y) & 0xFFFFFF) == (panel & 0xFFFFFF) &&
                         (before.pixel(x, y) & 0xFFFFFF) != (panel & 0xFFFFFF);
            run = isNew ? run + 1 : 0;
            if (run > best) best = run;
        }
        if (best >= 150) ++rows;
        if (best > widest) widest = best;
    }
    std::printf("panel rows: %d, widest run: %d px\n", rows, widest);
    if (rows < 8) {
        std::fprintf(stderr, "stashbay-screenshot-check: %s does not show the panel\n", argv[2]);
        return 1;
    }
    return 0;
}
