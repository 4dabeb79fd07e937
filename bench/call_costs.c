// Preloaded into zu or the baseline by the benchmark (bench.py --call-costs): measures
// the main thread's CPU time inside each SDL and SDL_ttf call a frame makes, and
// prints per-frame figures to standard error at exit. SDL's own profile symbols are
// hidden behind its dynamic API table, so a sampling profiler cannot name them.
#define _GNU_SOURCE
#include <SDL.h>
#include <SDL_ttf.h>
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

enum {
    POLL,
    DRAW_COLOR,
    CLEAR,
    PRESENT,
    BLEND_MODE,
    FILL_RECT,
    DRAW_LINE,
    COPY,
    COPY_EX,
    CREATE_TEXTURE,
    DESTROY_TEXTURE,
    FREE_SURFACE,
    LOAD_BMP,
    RW_FROM_FILE,
    TTF_RENDER,
    GET_TICKS,
    COUNT
};
static const char* names[COUNT] = {"SDL_PollEvent",
                                   "SDL_SetRenderDrawColor",
                                   "SDL_RenderClear",
                                   "SDL_RenderPresent",
                                   "SDL_SetRenderDrawBlendMode",
                                   "SDL_RenderFillRect",
                                   "SDL_RenderDrawLine",
                                   "SDL_RenderCopy",
                                   "SDL_RenderCopyEx",
                                   "SDL_CreateTextureFromSurface",
                                   "SDL_DestroyTexture",
                                   "SDL_FreeSurface",
                                   "SDL_LoadBMP_RW",
                                   "SDL_RWFromFile",
                                   "TTF_RenderUTF8_Solid",
                                   "SDL_GetTicks"};
static void* real[COUNT];
static double cpu[COUNT], wall[COUNT];
static long calls[COUNT];
static int depth; // calls made from inside a measured call are part of it
static long frames;
static double cpuFirst = -1, cpuLast;

static double micros(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

static void* next(int i) {
    if (!real[i]) real[i] = dlsym(RTLD_NEXT, names[i]);
    return real[i];
}

typedef struct {
    int outer;
    double cpu, wall;
} Mark;

static Mark enter(void) {
    Mark m = {depth++ == 0, 0, 0};
    if (m.outer) {
        m.cpu = micros(CLOCK_THREAD_CPUTIME_ID);
        m.wall = micros(CLOCK_MONOTONIC);
    }
    return m;
}

static void leave(int i, Mark m) {
    if (m.outer) {
        cpu[i] += micros(CLOCK_THREAD_CPUTIME_ID) - m.cpu;
        wall[i] += micros(CLOCK_MONOTONIC) - m.wall;
        calls[i]++;
    }
    depth--;
}

#define WRAP(ret, name, idx, params, args)                                                         \
    ret name params {                                                                              \
        Mark mark_ = enter();                                                                      \
        ret result_ = ((ret(*) params)next(idx))args;                                              \
        leave(idx, mark_);                                                                         \
        return result_;                                                                            \
    }
#define WRAP_VOID(name, idx, params, args)                                                         \
    void name params {                                                                             \
        Mark mark_ = enter();                                                                      \
        ((void(*) params)next(idx)) args;                                                          \
        leave(idx, mark_);                                                                         \
    }

WRAP(int, SDL_PollEvent, POLL, (SDL_Event * e), (e))
WRAP(int, SDL_SetRenderDrawColor, DRAW_COLOR,
     (SDL_Renderer * r, Uint8 a, Uint8 b, Uint8 c, Uint8 d), (r, a, b, c, d))
WRAP(int, SDL_RenderClear, CLEAR, (SDL_Renderer * r), (r))
WRAP(int, SDL_SetRenderDrawBlendMode, BLEND_MODE, (SDL_Renderer * r, SDL_BlendMode b), (r, b))
WRAP(int, SDL_RenderFillRect, FILL_RECT, (SDL_Renderer * r, const SDL_Rect* q), (r, q))
WRAP(int, SDL_RenderDrawLine, DRAW_LINE, (SDL_Renderer * r, int a, int b, int c, int d),
     (r, a, b, c, d))
WRAP(int, SDL_RenderCopy, COPY,
     (SDL_Renderer * r, SDL_Texture* t, const SDL_Rect* s, const SDL_Rect* d), (r, t, s, d))
WRAP(int, SDL_RenderCopyEx, COPY_EX,
     (SDL_Renderer * r, SDL_Texture* t, const SDL_Rect* s, const SDL_Rect* d, const double a,
      const SDL_Point* c, const SDL_RendererFlip f),
     (r, t, s, d, a, c, f))
WRAP(SDL_Texture*, SDL_CreateTextureFromSurface, CREATE_TEXTURE, (SDL_Renderer * r, SDL_Surface* s),
     (r, s))
WRAP_VOID(SDL_DestroyTexture, DESTROY_TEXTURE, (SDL_Texture * t), (t))
WRAP_VOID(SDL_FreeSurface, FREE_SURFACE, (SDL_Surface * s), (s))
WRAP(SDL_Surface*, SDL_LoadBMP_RW, LOAD_BMP, (SDL_RWops * o, int f), (o, f))
WRAP(SDL_RWops*, SDL_RWFromFile, RW_FROM_FILE, (const char* p, const char* m), (p, m))
WRAP(SDL_Surface*, TTF_RenderUTF8_Solid, TTF_RENDER, (TTF_Font * f, const char* t, SDL_Color c),
     (f, t, c))
WRAP(Uint32, SDL_GetTicks, GET_TICKS, (void), ())

// Counting starts at the end of the first present: start-up is not a frame.
void SDL_RenderPresent(SDL_Renderer* r) {
    Mark m = enter();
    ((void (*)(SDL_Renderer*))next(PRESENT))(r);
    leave(PRESENT, m);
    double now = micros(CLOCK_THREAD_CPUTIME_ID);
    if (cpuFirst < 0) {
        cpuFirst = now;
        memset(cpu, 0, sizeof cpu);
        memset(wall, 0, sizeof wall);
        memset(calls, 0, sizeof calls);
    } else {
        frames++;
    }
    cpuLast = now;
}

__attribute__((destructor)) static void report(void) {
    if (frames <= 0) return;
    double total = cpuLast - cpuFirst, inCalls = 0;
    fprintf(stderr, "callcost: %ld frames, main thread CPU %.0f us per frame\n", frames,
            total / frames);
    fprintf(stderr, "callcost: %-30s %8s %10s %10s %6s\n", "call", "calls", "CPU us", "wall us",
            "share");
    for (int i = 0; i < COUNT; i++) {
        if (!calls[i]) continue;
        inCalls += cpu[i];
        fprintf(stderr, "callcost: %-30s %8.1f %10.1f %10.1f %5.1f%%\n", names[i],
                (double)calls[i] / frames, cpu[i] / frames, wall[i] / frames, 100 * cpu[i] / total);
    }
    fprintf(stderr, "callcost: %-30s %8s %10.1f %10s %5.1f%%\n", "(outside these calls)", "",
            (total - inCalls) / frames, "", 100 * (total - inCalls) / total);
}
