// Placeholder until the folder's first source file lands; delete it then.
