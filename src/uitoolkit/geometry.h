// The toolkit's geometry records, all in signed 32-bit pixels with the
// origin at the top left.
#pragma once

struct sPoint {
    int x = 0;
    int y = 0;
};

struct sSize {
    int w = 0;
    int h = 0;
};

struct sRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// Right and bottom are exclusive.
struct sArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};
