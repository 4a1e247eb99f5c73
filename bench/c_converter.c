#include "c_converter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

uint8_t* c_read_file(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    uint8_t* buf = n > 0 ? malloc((size_t)n) : NULL;
    if (buf && fread(buf, 1, (size_t)n, f) != (size_t)n) {
        free(buf);
        buf = NULL;
    }
    fclose(f);
    *size = buf ? (size_t)n : 0;
    return buf;
}

static void threshold(const uint8_t* pixels, int stride, struct c_logo* l) {
    for (int y = 0; y < l->height; y++) {
        const uint8_t* row = pixels + (size_t)(l->height - 1 - y) * stride;
        for (int x = 0; x < l->width; x++) {
            float grey = 0.299f * row[3 * x + 2] + 0.587f * row[3 * x + 1] + 0.114f * row[3 * x];
            l->dots[(size_t)y * l->width8 + x] = grey < 128.0f;
        }
    }
}

/* Stucki over a float plane with two spare columns on each side and two spare rows below. */
static void stucki(const uint8_t* pixels, int stride, struct c_logo* l) {
    const int pw = l->width + 4;
    float* plane = calloc((size_t)pw * (l->height + 2), sizeof(float));
    for (int y = 0; y < l->height; y++) {
        const uint8_t* row = pixels + (size_t)(l->height - 1 - y) * stride;
        for (int x = 0; x < l->width; x++)
            plane[(size_t)y * pw + x + 2] = 0.299f * row[3 * x + 2] + 0.587f * row[3 * x + 1] + 0.114f * row[3 * x];
    }
    const float w1 = 1.0f / 42, w2 = 2.0f / 42, w4 = 4.0f / 42, w8 = 8.0f / 42;
    for (int y = 0; y < l->height; y++) {
        float* r0 = plane + (size_t)y * pw + 2;
        float* r1 = r0 + pw;
        float* r2 = r1 + pw;
        for (int x = 0; x < l->width; x++) {
            float old = r0[x];
            float now = old > 128.0f ? 255.0f : 0.0f;
            float e = old - now;
            l->dots[(size_t)y * l->width8 + x] = now == 0.0f;
            r0[x + 1] += e * w8;
            r0[x + 2] += e * w4;
            r1[x - 2] += e * w2;
            r1[x - 1] += e * w4;
            r1[x] += e * w8;
            r1[x + 1] += e * w4;
            r1[x + 2] += e * w2;
            r2[x - 2] += e * w1;
            r2[x - 1] += e * w2;
            r2[x] += e * w4;
            r2[x + 1] += e * w2;
            r2[x + 2] += e * w1;
        }
    }
    free(plane);
}

static void pack(struct c_logo* l) {
    const int bands = l->height8 / 8;
    for (int x = 0; x < l->width8; x++)
        for (int b = 0; b < bands; b++) {
            uint8_t byte = 0;
            for (int k = 0; k < 8; k++)
                byte = (uint8_t)(byte << 1 | l->dots[(size_t)(8 * b + k) * l->width8 + x]);
            l->raster[(size_t)x * bands + b] = byte;
        }
}

int c_convert(const uint8_t* file, size_t size, int mode, struct c_logo* l) {
    if (size < 54 || file[0] != 'B' || file[1] != 'M' || file[28] != 24) return -1;
    const uint32_t offset = le32(file + 10);
    const int w = (int)le32(file + 18), h = (int)le32(file + 22);
    if (w <= 0 || h <= 0 || w > 30000 || h > 30000) return -1;
    const int stride = (w * 3 + 3) / 4 * 4;
    if (offset > size || (size_t)stride * h > size - offset) return -1;
    l->width = w;
    l->height = h;
    l->width8 = (w + 7) / 8 * 8;
    l->height8 = (h + 7) / 8 * 8;
    l->dots = calloc((size_t)l->width8 * l->height8, 1);
    l->raster = malloc((size_t)l->width8 * l->height8 / 8);
    if (mode == C_STUCKI)
        stucki(file + offset, stride, l);
    else
        threshold(file + offset, stride, l);
    pack(l);
    return 0;
}

void c_free_logo(struct c_logo* l) {
    free(l->dots);
    free(l->raster);
}
