# Path;DirID;Permissions;UserID;GroupID;Ratio;DupeDisable;MirrorID
#
# This file is used to keep track of all the directories and files
# that are created or destroyed through the ORVEX server.
#
