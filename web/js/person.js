// The name of the person at this browser, for the register's "who": there
// is no login name the page can read (the web server keeps the login to
// itself), so it is the name the person types the first time one is
// needed, which this browser remembers.
const NAME_KEY = 'talvenplan-your-name';

export function yourName() {
  try {
    return localStorage.getItem(NAME_KEY) || '';
  } catch {
    return '';
  }
}

export function rememberName(name) {
  try {
    localStorage.setItem(NAME_KEY, name);
  } catch {
    // A browser that keeps nothing asks again next time.
  }
}
