// The interface of an indexed palette, and its writable form. Colours are
// red, green, blue triples of 0 to 255. The colour cubes of the X layer are
// the implementations; pixel formats ask them for the nearest entry.
#pragma once

namespace rfb {

class ColourMap {
public:
  virtual ~ColourMap();
  virtual void getColour(int index, int rgb[3]) = 0;
  virtual int size() = 0;
  // The index of the nearest entry by squared distance, the lower index on
  // a tie; 0 for a map without entries.
  virtual int lookup(const int rgb[3]);
  // True when the index follows from independent red, green and blue
  // levels (a colour cube).
  virtual bool isOrthogonal() { return false; }
};

class ColourMapRW : public ColourMap {
public:
  virtual void setColour(int index, const int rgb[3]) = 0;
  // Every entry of other, asking other's size again after each one.
  virtual void copyFrom(ColourMap& other);
};

} // namespace rfb
