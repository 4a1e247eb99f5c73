/* The yardstick for nvlogo's speed: the plainest converter one would write in C for the same job. It reads a
 * bottom-up 24-bit BMP, takes a float grey per pixel, thresholds it at 128 or diffuses it with a float Stucki
 * kernel, and packs the dots column by column, 8 rows to a byte, as the printer's NV raster wants them. It
 * makes no attempt at the product's exact bytes; only its time matters. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { C_THRESHOLD = 0, C_STUCKI = 1 };

/* One converted logo: dots are 1 where the printer prints, one byte per pixel, rows from the top, stride
 * width8. raster is width8 × height8 / 8 bytes in the printer's column order. */
struct c_logo {
    int width, height, width8, height8;
    uint8_t* dots;
    uint8_t* raster;
};

/* Reads the whole file into a malloc'ed buffer; NULL when it cannot. */
uint8_t* c_read_file(const char* path, size_t* size);

/* Converts the file's bytes; 0 on success, -1 for a file that is not a bottom-up 24-bit BMP. */
int c_convert(const uint8_t* file, size_t size, int mode, struct c_logo* out);

void c_free_logo(struct c_logo* logo);

#ifdef __cplusplus
}
#endif
