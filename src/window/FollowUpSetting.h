// Whether the window follows up the known devices that have not answered:
// at each repeat of a search, each is also searched at its last address. Kept
// in the user's settings, on unless turned off in the Addresses… dialog, for
// a user who wants only the broadcast and the group search on the wire.
#ifndef NASFINDER_FOLLOWUPSETTING_H
#define NASFINDER_FOLLOWUPSETTING_H

// The dialog's check box: its caption's key and English text.
extern const char kFollowUpsKey[];
extern const char kFollowUpsText[];

bool LoadFollowUps();
void SaveFollowUps(bool on);

#endif
