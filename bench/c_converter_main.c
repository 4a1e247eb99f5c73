/* c_converter [--stucki] [--pgm] FILE.bmp: writes to standard output what nvlogo save -o - writes for one logo
 * (ESC @, FS q 1, the size bytes and the raster), or with --pgm the dots as a grey picture, as nvlogo preview
 * writes a .pgm file. */
#include "c_converter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    int mode = C_THRESHOLD, pgm = 0;
    const char* path = NULL;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--stucki") == 0)
            mode = C_STUCKI;
        else if (strcmp(argv[i], "--pgm") == 0)
            pgm = 1;
        else
            path = argv[i];
    }
    size_t size = 0;
    uint8_t* file = path ? c_read_file(path, &size) : NULL;
    struct c_logo logo;
    if (!file || c_convert(file, size, mode, &logo) != 0) {
        fprintf(stderr, "c_converter: cannot convert %s\n", path ? path : "(no file)");
        return 1;
    }
    if (pgm) {
        printf("P5\n%d %d\n255\n", logo.width, logo.height);
        uint8_t* row = malloc((size_t)logo.width);
        for (int y = 0; y < logo.height; y++) {
            for (int x = 0; x < logo.width; x++)
                row[x] = logo.dots[(size_t)y * logo.width8 + x] ? 0 : 255;
            fwrite(row, 1, (size_t)logo.width, stdout);
        }
        free(row);
    } else {
        const int xu = logo.width8 / 8, yu = logo.height8 / 8;
        const uint8_t head[9] = {
            0x1B, 0x40, 0x1C, 0x71, 1, (uint8_t)xu, (uint8_t)(xu >> 8), (uint8_t)yu, (uint8_t)(yu >> 8)};
        fwrite(head, 1, sizeof head, stdout);
        fwrite(logo.raster, 1, (size_t)logo.width8 * logo.height8 / 8, stdout);
    }
    c_free_logo(&logo);
    free(file);
    return fflush(stdout) == 0 ? 0 : 1;
}
