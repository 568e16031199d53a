Usage: SITE REMOTE LOGIN <user> <timestamp> <home-ip> <home-port>
  Sent by another server of this kind whose user enters an alias pointing here. The answer
  carries a password for one login within 30 seconds as "<user>$<home-ip>$<home-port>"; when
  the copy of the user file here is older, the file follows on the data connection.
