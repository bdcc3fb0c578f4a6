#pragma once
// The small practice that the window tests of both desktop programs sign in to and extract
// from: its users and patients, as a script for a fixture installation.
namespace test_support {

// Users: a titolare with every attribute, one of kind "t", one whose regional code is
// blanks, one who is neither a titolare nor has a code, and a titolare with only a code.
// Patients of MED1: two enrolled diabetics and one in the TAO programme, vaccinated in 2024.
inline const char* window_practice = R"sql(
INSERT INTO utenti VALUES ('doc', 'pw', 'MED1', 'T', '1234', 'RSSMRA60A01H501U', 'Mario', 'Rossi', 'ASL 12');
INSERT INTO utenti VALUES ('minuscolo', 'pw', 'MED2', 't', '5555', 'X', 'Ugo', 'Neri', 'ASL 1');
INSERT INTO utenti VALUES ('senzacodice', 'pw', 'MED3', 'T', '   ', 'Y', 'Anna', 'Verdi', 'ASL 2');
INSERT INTO utenti VALUES ('nessuno', 'pw', 'MED4', 'S', '', '', '', '', '');
INSERT INTO utenti VALUES ('anonimo', 'pw', 'MED5', 'T', '777', '', '', '', '');
INSERT INTO opzioni VALUES ('macchina', 'OPZIONI\regione', 'Toscana');
INSERT INTO PAZIENTI (CODICE, COGNOME, NOME, SESSO, CODICE_FISCALE, nascita, codice_comune_nasc, DECESSO, PA_CONVENZIONE)
  VALUES ('P1', 'D''Alò', 'Niccolò', 'M', 'DLANCC50A01H501X', '1950-01-01', '058091', NULL, 'S'),
         ('P2', 'Bianchi', 'Anna', 'F', 'BNCNNA45B41H501Y', '1945-02-01', '058091', NULL, 'S'),
         ('P3', 'Conti', 'Marco', 'M', 'CNTMRC55C01H501Z', '1955-03-01', '058091', NULL, 'S');
INSERT INTO NOS_002 (CODICE, pa_medi, PA_DREVOCA) VALUES ('P1', 'MED1', NULL), ('P2', 'MED1', NULL), ('P3', 'MED1', NULL);
INSERT INTO CART_CONCESSIONI_PIP (CODICE, incent_code) VALUES ('P1', 'REG0027'), ('P2', 'REG0002'), ('P3', 'REG0027');
INSERT INTO cart_accert (codice, ac_code, ac_val, ac_mem, data_open, time_last)
  VALUES ('P1', '4250', 'A', 'ARRUOLATO 2020', '2020-03-01', '2020-03-01 10:00:00'),
         ('P3', '4250', 'A', 'ARRUOLATO 2021', '2021-03-01', '2021-03-01 10:00:00'),
         ('P1', ' 703', '7,2', NULL, '2024-05-10', '2024-05-10 09:00:00'),
         ('P2', '2631', '2,5', NULL, '2024-06-11', '2024-06-11 09:00:00');
INSERT INTO cart_vaccini (codice, va_tipo, va_code, va_data) VALUES ('P2', 'ANTINFL', 'IDRM', '2024-10-20');
)sql";

}  // namespace test_support
