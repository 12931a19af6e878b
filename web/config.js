// Where the page finds the program and which data directory it opens on.
// A site edits this file (scripts/run writes its own); a "dir" parameter in
// the page's URL wins over `directory`.
export default {
  program: 'talvenplan.cgi',  // relative to the page
  directory: '',
};
