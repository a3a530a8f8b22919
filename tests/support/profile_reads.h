#pragma once

// A seam that counts the settings reads of the code under test: calls of
// GetPrivateProfileIntW and GetPrivateProfileStringW through this
// executable's import table, while an object of this class lives.

class ProfileReads {
  public:
    ProfileReads();
    ~ProfileReads();
    ProfileReads(const ProfileReads&) = delete;
    ProfileReads& operator=(const ProfileReads&) = delete;

    int Count() const;
};
