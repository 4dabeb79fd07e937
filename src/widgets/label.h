// The one widget that paints: background, fills, outline and stretched text.
#pragma once

#include "control.h"

class Label : public Control {
  public:
    SDL_Point edges[4][2] = {}; // left, right, top, bottom; computed by draw()
    Uint8 fillAlpha = 100;
    int blinkCounter = 0;
    int x = 0, y = 0, w = 0, h = 0;
    SharedText text{"Label"};
    int fontSize = 12;
    SDL_Rect rect = {0, 0, 0, 0};

    // Sets the shared font to 12 points.
    Label();
    // The same, with the size given.
    Label(int w, int h);

    // Computes rect and edges from x, y, w, h.
    void draw() override;
    // Paints the label; exits with status 1 when the text cannot be rasterised.
    void render();
};

// Copies the colours, alphas and flags of a composite widget into its label.
void copyLook(const Control& from, Label& to, bool withHighlight);
